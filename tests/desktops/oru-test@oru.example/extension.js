// The desktops test's own extension: the shell starts in the overview, which
// a headless shell has no keyboard to leave, and its screenshot service
// answers only known callers unless the shell runs in unsafe mode. Once the
// desktop is up it owns org.oruDriver.DesktopTest on the session bus, the
// test's sign to go on.
const { Gio } = imports.gi;
const Main = imports.ui.main;

let nameId = 0;

function init() {}

function ready() {
    Main.overview.hide();
    nameId = Gio.bus_own_name(Gio.BusType.SESSION, 'org.oruDriver.DesktopTest', Gio.BusNameOwnerFlags.NONE,
        null, null, null);
}

function enable() {
    global.context.unsafe_mode = true;
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', ready);
    else
        ready();
}

function disable() {
    if (nameId)
        Gio.bus_unown_name(nameId);
    nameId = 0;
}
