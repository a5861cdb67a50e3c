# Sourced by scripts/demo.sh, scripts/endurance.sh, the acceptance test and the kernel guest suite:
# a private X server with a tray host and an empty per-user environment, and
# the clean-up of everything started here on every way out.
#
#   oru_session_start WORKDIR [WIDTHxHEIGHT]   starts Xvfb and trayer, exports
#                                              DISPLAY, XDG_*, HOME
#   oru_session_start_server WORKDIR [WxH]     the same without the tray host
#   oru_session_start_bus WORKDIR [system]     a private session (or system) bus,
#                                              exported
#   oru_session_start_xfce WORKDIR PANEL_XML   Xfce's window manager and panel
#                                              (PANEL_XML: its configuration)
#                                              on DISPLAY, with a session bus
#   oru_session_start_gnome WORKDIR x11|wayland EXTENSION [no-tray]
#                                              GNOME Shell (the X window manager,
#                                              or headless on Wayland) with the
#                                              AppIndicator extension and
#                                              EXTENSION (a folder), which owns
#                                              org.oruDriver.DesktopTest when up;
#                                              no-tray: without AppIndicator
#   oru_session_start_kwin WORKDIR             KWin's virtual Wayland compositor
#                                              (run in a mount namespace of its
#                                              own: see the function)
#   oru_session_store_calibration              a stored calibration in the user's
#                                              store (texts in oru_session_texts)
#   oru_session_bus_name_owned NAME [BUS]      whether NAME has an owner on the
#                                              session (or the given) bus
#   oru_session_watch_pidfile FILE             the clean-up also ends the process
#                                              whose id FILE holds (the driver)
#   oru_session_run SECONDS COMMAND...         runs COMMAND with a time limit; a
#                                              signal to the script ends it at once
#   oru_session_stop                           ends all of it (also run on exit)
#   oru_session_prepare WORKDIR                the empty per-user environment in
#                                              WORKDIR and the clean-up, for a
#                                              session on another X server
#   oru_session_start_tray WORKDIR             starts trayer on DISPLAY
#   oru_session_need PACKAGES TOOL...          says what to install for a
#                                              missing TOOL
#   oru_session_programs BUILD_DIR             sets driver and demo to the built
#                                              programs, or says what to build

oru_session_services=()  # X server, tray host
oru_session_runs=()      # bounded runs of the demo program
oru_session_pidfiles=()
oru_session_work=

oru_session_programs() {
  driver=$1/bin/oru-driver
  demo=$1/bin/oru-demo
  local program
  for program in "$driver" "$demo"; do
    if [[ ! -x $program ]]; then
      echo "$program is missing: build first (scripts/build.sh; oru-demo needs the Debian packages umockdev and libumockdev-dev)" >&2
      exit 1
    fi
  done
}

oru_session_stop() {
  local f p deadline
  for f in "${oru_session_pidfiles[@]}"; do
    [[ -s $f ]] || continue
    p=$(<"$f")
    [[ $p =~ ^[0-9]+$ ]] && kill "$p" 2>/dev/null || true
  done
  # The demo program first, while the X server is still there for its own
  # clean-up; then the tray host and the X server.
  for p in "${oru_session_runs[@]}"; do kill "$p" 2>/dev/null || true; done
  deadline=$((SECONDS + 10))
  for p in "${oru_session_runs[@]}"; do
    while kill -0 "$p" 2>/dev/null && ((SECONDS < deadline)); do sleep 0.1; done
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  for ((i = ${#oru_session_services[@]} - 1; i >= 0; i--)); do
    kill "${oru_session_services[i]}" 2>/dev/null || true
  done
  for p in "${oru_session_services[@]}"; do wait "$p" 2>/dev/null || true; done
  oru_session_runs=()
  oru_session_services=()
  if [[ -n $oru_session_work && -d $oru_session_work ]]; then
    rm -rf "$oru_session_work"
  fi
  oru_session_work=
}

oru_session_watch_pidfile() { oru_session_pidfiles+=("$1"); }

oru_session_run() {
  local limit=$1 pid status=0 kept=() p
  shift
  # In the background and waited for: bash runs its traps during a wait, not
  # while a foreground command runs.
  timeout --kill-after=10 "$limit" "$@" &
  pid=$!
  oru_session_runs+=("$pid")
  wait "$pid" || status=$?
  for p in "${oru_session_runs[@]}"; do [[ $p == "$pid" ]] || kept+=("$p"); done
  oru_session_runs=("${kept[@]}")
  return "$status"
}

# oru_session_await SECONDS WHAT LOG PID COMMAND...: runs COMMAND until it
# succeeds, for up to SECONDS while the service PID runs; otherwise says that
# WHAT did not start, with its LOG.
oru_session_await() {
  local limit=$1 what=$2 log=$3 service=$4
  shift 4
  local deadline=$((SECONDS + limit))
  until "$@"; do
    if ((SECONDS >= deadline)) || ! kill -0 "$service" 2>/dev/null; then
      echo "$what did not start; its log: $log" >&2
      cat "$log" >&2 || true
      return 1
    fi
    sleep 0.05
  done
}

oru_session_trayer_shows() { [[ -n $(xdotool search --onlyvisible --class '^trayer$' 2>/dev/null) ]]; }

# oru_session_need PACKAGES TOOL...: true when every TOOL is on the PATH;
# else says which one is missing and the Debian PACKAGES to install.
oru_session_need() {
  local packages=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "$tool not found: install the Debian packages $packages (scripts/install-deps.sh)" >&2
      return 1
    }
  done
}

oru_session_prepare() {
  local work=$1
  mkdir -p "$work"
  oru_session_work=$work
  trap 'oru_session_stop' EXIT
  trap 'oru_session_stop; trap - EXIT; exit 130' INT TERM HUP

  # An empty user: no stored calibration, no desktop session. A desktop's
  # StatusNotifier host must not take the tray icon away from this display.
  export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-demo QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY XAUTHORITY
}

oru_session_start_tray() {
  local work=$1
  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true \
    >"$work/trayer.log" 2>&1 &
  oru_session_services+=($!)
  # Up once its panel shows (oru-demo also waits for it to own the tray).
  oru_session_await 15 "the tray host" "$work/trayer.log" "${oru_session_services[-1]}" oru_session_trayer_shows
}

oru_session_start_server() {
  local work=$1 size=${2:-1280x800}
  oru_session_need "xvfb and xdotool" Xvfb xdotool || return 1
  oru_session_prepare "$work"

  # Xvfb picks a free display number itself and says which once it is ready.
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  oru_session_services+=($!)
  oru_session_await 15 "the X server" "$work/xvfb.log" "${oru_session_services[0]}" test -s "$work/display" || return 1
  export DISPLAY=:$(head -n1 "$work/display")
}

oru_session_start() {
  oru_session_need "trayer" trayer || return 1
  oru_session_start_server "$@" || return 1
  oru_session_start_tray "$1"
}

oru_session_bus_name_owned() {
  local bus=${2:-$DBUS_SESSION_BUS_ADDRESS}
  dbus-send --bus="$bus" --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q true
}

# oru_session_start_bus WORKDIR [system]: a private session bus, or a bus
# that stands in for the system bus, exported as the desktop's programs look
# for it.
oru_session_start_bus() {
  local work=$1 kind=${2:-session} variable=DBUS_SESSION_BUS_ADDRESS
  [[ $kind == system ]] && variable=DBUS_SYSTEM_BUS_ADDRESS
  oru_session_need "dbus-daemon" dbus-daemon dbus-send || return 1
  : >"$work/$kind-bus"
  dbus-daemon --session --nofork --address="unix:path=$work/$kind-bus.socket" --print-address=3 \
    3>"$work/$kind-bus" 2>"$work/$kind-bus.log" &
  oru_session_services+=($!)
  oru_session_await 15 "the $kind bus" "$work/$kind-bus.log" "${oru_session_services[-1]}" \
    test -s "$work/$kind-bus" || return 1
  export "$variable=unix:path=$work/$kind-bus.socket"
}

oru_session_xfce_panel_shows() { [[ -n $(xdotool search --onlyvisible --class '^xfce4-panel$' 2>/dev/null) ]]; }

oru_session_start_xfce() {
  local work=$1 panel=$2 channels
  oru_session_need "xfwm4 and xfce4-panel" xfwm4 xfce4-panel || return 1
  oru_session_start_bus "$work" || return 1
  # The panel reads its layout through xfconfd (started by the bus) from the
  # user's channel files; with none it would ask at its first start.
  channels=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$channels"
  cp "$panel" "$channels/xfce4-panel.xml"
  # No compositor: popup menus without shadows, screenshots as X draws them.
  xfwm4 --compositor=off >"$work/xfwm4.log" 2>&1 &
  oru_session_services+=($!)
  oru_session_await 15 "the window manager" "$work/xfwm4.log" "${oru_session_services[-1]}" \
    oru_session_wm_running || return 1
  xfce4-panel >"$work/xfce4-panel.log" 2>&1 &
  oru_session_services+=($!)
  # Its notification area, a process of its own, owns the StatusNotifier
  # watcher together with the X tray selection.
  oru_session_await 20 "the panel" "$work/xfce4-panel.log" "${oru_session_services[-1]}" \
    eval 'oru_session_xfce_panel_shows && oru_session_bus_name_owned org.kde.StatusNotifierWatcher'
}

# A window manager has claimed the screen: EWMH's supporting window is set.
oru_session_wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

oru_session_start_gnome() {
  local work=$1 kind=$2 extension=$3 tray=${4:-tray} shell uuid extensions
  oru_session_need "gnome-shell, gnome-shell-extension-appindicator and dbus-daemon" gnome-shell gsettings \
    dbus-daemon || return 1
  oru_session_start_bus "$work" || return 1
  # Where /run/systemd/seats exists the shell asks logind on the system bus
  # for its session: a private system bus answers, without one.
  oru_session_start_bus "$work" system || return 1
  # The caller's extension leaves the overview the shell starts in and owns
  # org.oruDriver.DesktopTest once the desktop is up.
  uuid=$(basename "$extension")
  export XDG_DATA_HOME=$work/data
  mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
  cp -r "$extension" "$XDG_DATA_HOME/gnome-shell/extensions/"
  # Left after a crash of the shell, it would start the next one without extensions.
  rm -f "$XDG_RUNTIME_DIR/gnome-shell-disable-extensions"
  # GNOME as Debian installs it has no tray: the AppIndicator extension only when asked.
  extensions="'$uuid'"
  [[ $tray == no-tray ]] || extensions="'ubuntu-appindicators@ubuntu.com', $extensions"
  gsettings set org.gnome.shell enabled-extensions "[$extensions]"
  # No banners over the screenshots (a root session gets one at the start).
  gsettings set org.gnome.desktop.notifications show-banners false
  export XDG_CURRENT_DESKTOP=GNOME LIBGL_ALWAYS_SOFTWARE=1
  if [[ $kind == x11 ]]; then
    export XDG_SESSION_TYPE=x11
    gnome-shell --x11 --replace >"$work/gnome-shell.log" 2>&1 &
  else
    export XDG_SESSION_TYPE=wayland
    unset DISPLAY
    gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 >"$work/gnome-shell.log" 2>&1 &
  fi
  shell=$!
  oru_session_services+=("$shell")
  oru_session_await 60 "GNOME Shell ($kind)" "$work/gnome-shell.log" "$shell" \
    eval 'oru_session_bus_name_owned org.oruDriver.DesktopTest &&
          { [[ $tray == no-tray ]] || oru_session_bus_name_owned org.kde.StatusNotifierWatcher; }' || return 1
  [[ $kind == x11 ]] || export WAYLAND_DISPLAY=wayland-0
}

oru_session_start_kwin() {
  local work=$1 kwin
  oru_session_need "kwin-wayland" kwin_wayland || return 1
  oru_session_start_bus "$work" || return 1
  # Debian's binary carries a file capability (cap_sys_resource) that a
  # sandbox may refuse to execute; its Qt platform plugin loads only in a
  # process started as /usr/bin/kwin_wayland. A copy without the capability,
  # bound over it, is both: the caller runs in a mount namespace of its own
  # (unshare --mount), so the system's file stays as it is.
  kwin=$(command -v kwin_wayland)
  if [[ -n $(getcap "$kwin" 2>/dev/null) ]]; then
    cp "$kwin" "$work/kwin_wayland"
    mount --bind "$work/kwin_wayland" "$kwin" || return 1
  fi
  (unset DISPLAY QT_QPA_PLATFORM
   exec env LIBGL_ALWAYS_SOFTWARE=1 XDG_SESSION_TYPE=wayland kwin_wayland --virtual --width 1280 --height 800 \
     --socket wayland-oru --no-lockscreen) >"$work/kwin.log" 2>&1 &
  oru_session_services+=($!)
  oru_session_await 60 "KWin" "$work/kwin.log" "${oru_session_services[-1]}" \
    eval 'test -S "$XDG_RUNTIME_DIR/wayland-oru" && oru_session_bus_name_owned org.kde.KWin' || return 1
  unset DISPLAY
  export WAYLAND_DISPLAY=wayland-oru
}

oru_session_texts=(100 -150 550 -160 110 -500 540 -510)
oru_session_store_calibration() {
  local i
  mkdir -p "$XDG_CONFIG_HOME/oruDriver"
  {
    printf '[Software\\oruDriver]\n"FormVersion" = int 0\n'
    for i in {0..7}; do printf '"Edit%d_Text" = text "%s"\n' $((i + 1)) "${oru_session_texts[i]}"; done
  } >"$XDG_CONFIG_HOME/oruDriver/store.conf"
}
