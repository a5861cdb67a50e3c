#!/usr/bin/env bash
# The driver's uinput pointer through real Wayland compositors, as root in a
# systemd test guest with a two-output virtio GPU (vm-run.sh --init systemd
# --gpu). For each compositor and output layout ("one": 1280x800 alone;
# "two": the board at 1024x768 right of it) it runs oru-wayland-probe full
# screen on every output, the driver (--pointer uinput, as the test user) with
# a stored calibration, and the uhid pen: holds on board points, a tip click
# and a side-button click. Each row compares where oru-replay says the driver
# meant the pointer with where the probe saw it settle. Left-handed rows
# (sway's input setting, GNOME's mouse setting) keep the verdict: tip = left
# press, side = right press. Prints one line per row; fails if any row does.
#
#   guest-wayland.sh SOURCE_DIR BUILD_DIR RESULTS_DIR [sway|weston|gnome|kwin ...]
set -uo pipefail
top=${1:?usage: guest-wayland.sh SOURCE_DIR BUILD_DIR RESULTS_DIR [COMPOSITOR...]}
build=${2:?}
results=${3:?}
shift 3
compositors=("$@")
((${#compositors[@]})) || compositors=(sway weston gnome kwin)
rm -rf "$results"
mkdir -p "$results"
chmod 777 "$results"
uid=4242 rt=/run/user/4242 home=/home/oru-test
as_user=(setpriv --reuid=$uid --regid=$uid --init-groups --inh-caps=-all env HOME=$home USER=oru-test LOGNAME=oru-test
  XDG_RUNTIME_DIR=$rt DBUS_SESSION_BUS_ADDRESS=unix:path=$rt/bus)

# The shipped rules, and the seat's user owning what they tag uaccess (the
# stand-in for logind's ACL when no session is active, as guest-uinput.sh).
install -m 644 "$top/packaging/70-oru-pen-tracker.rules" "$top/packaging/71-oru-uinput.rules" /etc/udev/rules.d/
printf 'SUBSYSTEM=="%s", %sTAG=="uaccess", OWNER="oru-test"\n' hidraw '' misc 'KERNEL=="uinput", ' \
  >/etc/udev/rules.d/73-oru-test-seat.rules
udevadm control --reload
udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
udevadm settle --timeout=30
# GNOME Shell without the overview at start, which would take the pointer.
echo '{"parentMode": "user", "hasOverview": false}' >/usr/share/gnome-shell/modes/oru.json

# until SECONDS COMMAND...: polls COMMAND every 0.2 s, up to SECONDS.
until_ok() {
  local end=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do ((SECONDS < end)) || return 1; sleep 0.2; done
}
monitor() {  # CONNECTOR W H RATE X: one logical monitor of mutter's monitors.xml
  printf '<logicalmonitor><x>%d</x><y>0</y><scale>1</scale>%s<monitor><monitorspec><connector>%s</connector>' "$5" \
    "$([[ $1 == Virtual-1 ]] && echo '<primary>yes</primary>')" "$1"
  printf '<vendor>RHT</vendor><product>QEMU Monitor</product><serial>0x00000000</serial></monitorspec>'
  printf '<mode><width>%d</width><height>%d</height><rate>%s</rate></mode></monitor></logicalmonitor>\n' "$2" "$3" "$4"
}

# start COMPOSITOR LAYOUT DIR: sets $socket (absolute), $stop, $left_handed (a
# command, or empty), $desktop and $session_env (what the session gives its
# programs besides).
start() {
  local c=$1 layout=$2 dir=$3 second=''
  left_handed='' stop="kill \$compositor; wait \$compositor" session_env=()
  [[ $layout == two ]] && second=1
  either() { [[ -n $second ]] && echo "$1" || echo "$2"; }  # the second output's setting: on or off
  mkdir -p -m 700 $rt && chown $uid:$uid $rt
  case $c in
    sway)
      desktop=sway
      { echo "output Virtual-1 mode 1280x800 position 0 0"
        echo "output Virtual-2 $(either 'mode 1024x768 position 1280 0' disable)"
        echo 'default_border none'
        echo 'for_window [title="^oru-probe-"] fullscreen enable'; } >"$dir/sway.conf"
      SEATD_VTBOUND=0 seatd -g oru-test >"$dir/seatd.log" 2>&1 &
      seatd=$!
      until_ok 10 test -S /run/seatd.sock
      "${as_user[@]}" LIBSEAT_BACKEND=seatd WLR_RENDERER=pixman WLR_BACKENDS=drm,libinput WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$dir/sway.conf" >"$dir/compositor.log" 2>&1 &
      compositor=$!
      stop="kill \$compositor; wait \$compositor; kill $seatd; wait $seatd"
      until_ok 60 compgen -G "$rt/sway-ipc.*" >/dev/null
      socket=$(compgen -G "$rt/wayland-?" | head -n1)
      session_env=(SWAYSOCK="$(compgen -G "$rt/sway-ipc.*")")
      [[ $layout == one ]] && left_handed="${as_user[*]} swaymsg -s ${session_env[0]#*=} input * left_handed enabled" ;;
    weston)  # Debian's weston 10 has no seat launcher for a user: it runs as root
      desktop=weston
      printf '[core]\nidle-time=0\nrequire-input=false\n[shell]\npanel-position=none\nlocking=false\n' >"$dir/weston.ini"
      printf '[output]\nname=Virtual-1\nmode=1280x800\n[output]\nname=Virtual-2\nmode=%s\n' "$(either 1024x768 off)" \
        >>"$dir/weston.ini"
      mkdir -p /run/oru-weston
      XDG_RUNTIME_DIR=/run/oru-weston weston --tty=2 --backend=drm-backend.so --use-pixman --config="$dir/weston.ini" \
        --log="$dir/compositor.log" >"$dir/weston.out" 2>&1 &
      compositor=$!
      until_ok 60 compgen -G "/run/oru-weston/wayland-?" >/dev/null
      socket=$(compgen -G "/run/oru-weston/wayland-?" | head -n1)
      chmod 777 "$socket" ;;
    gnome|kwin)  # in a logind session on tty7, as a display manager starts it
      if [[ $c == gnome ]]; then
        desktop=GNOME
        rm -rf $home/.config/dconf  # no left-handed setting from an earlier row
        mkdir -p $home/.config
        { echo '<monitors version="2"><configuration>'
          monitor Virtual-1 1280 800 74.993850708007812 0
          [[ -n $second ]] && monitor Virtual-2 1024 768 60.003841400146484 1280
          [[ -z $second ]] && echo '<disabled><monitorspec><connector>Virtual-2</connector><vendor>RHT</vendor><product>QEMU Monitor</product><serial>0x00000000</serial></monitorspec></disabled>'
          echo '</configuration></monitors>'; } >$home/.config/monitors.xml
        chown -R $uid:$uid $home
        command=(/usr/bin/gnome-shell --wayland --display-server --no-x11 --mode=oru)
        [[ $layout == one ]] && left_handed="${as_user[*]} gsettings set org.gnome.desktop.peripherals.mouse left-handed true"
      else
        desktop=KDE
        # KWin starts with KScreen's stored layout for the connected outputs:
        # a file named after the MD5 of their EDIDs' MD5s, sorted and joined.
        local ids=() n
        for n in 1 2; do ids+=("$(md5sum </sys/class/drm/card*-Virtual-$n/edid | cut -c1-32)"); done
        mkdir -p $home/.local/share/kscreen
        printf '[{"id":"%s","metadata":{"name":"Virtual-1"},"enabled":true,"primary":true,"pos":{"x":0,"y":0},"scale":1,"rotation":1},
          {"id":"%s","metadata":{"name":"Virtual-2"},"enabled":%s,"pos":{"x":1280,"y":0},"scale":1,"rotation":1,
          "mode":{"size":{"width":1024,"height":768},"refresh":60.004}}]\n' "${ids[@]}" "$(either true false)" \
          >"$home/.local/share/kscreen/$(printf '%s\n' "${ids[@]}" | sort | tr -d '\n' | md5sum | cut -c1-32)"
        chown -R $uid:$uid $home
        command=(/usr/bin/kwin_wayland --drm --no-lockscreen --no-global-shortcuts --no-kactivities --socket wayland-0)
      fi
      busybox chvt 7
      systemd-run -q --unit=oru-desktop --collect -p User=oru-test -p PAMName=login -p TTYPath=/dev/tty7 -p StandardInput=tty-fail \
        -p StandardOutput=file:"$dir/compositor.log" -p StandardError=file:"$dir/compositor.log" -p UtmpIdentifier=tty7 \
        -p Environment="XDG_SESSION_TYPE=wayland XDG_SESSION_CLASS=user XDG_CURRENT_DESKTOP=$desktop KWIN_COMPOSE=Q" \
        "${command[@]}" >/dev/null
      stop="systemctl stop oru-desktop; until_ok 30 eval '! loginctl list-sessions --no-legend | grep -q oru-test'"
      until_ok 120 test -S $rt/wayland-0
      socket=$rt/wayland-0
      ;;
  esac
  [[ -S ${socket:-} ]]
}

for c in "${compositors[@]}"; do
  for layout in one two; do
    dir=$results/$c-$layout started=$SECONDS
    mkdir -p "$dir"
    chmod 777 "$dir"
    socket=''
    if ! start "$c" "$layout" "$dir"; then
      echo "$c $layout: FAILED: the compositor did not come up (its log: $dir/compositor.log)" | tee -a "$results/failed"
      eval "$stop" 2>/dev/null
      continue
    fi
    board=Virtual-$([[ $layout == two ]] && echo 2 || echo 1)
    user_env=(WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=$desktop "${session_env[@]}")
    "${as_user[@]}" "${user_env[@]}" "$build/tests/oru-wayland-probe" >"$dir/probe.log" 2>"$dir/probe.err" &
    probe=$!
    until_ok 60 eval '(( $(grep -c "^mapped" "$dir/probe.log") > 0 &&
      $(grep -c "^mapped" "$dir/probe.log") == $(grep -c "^screen" "$dir/probe.log") ))'
    # The stored calibration: wayland-pen.py's targets on the board output.
    mkdir -p $home/.config/oruDriver
    python3 "$top/tests/kernel/wayland-pen.py" calibration "$board" "$layout" "$dir/probe.log" \
      >$home/.config/oruDriver/store.conf
    chown -R $uid:$uid $home
    made=$(dmesg | grep -c 'input: oruDriver pen as')
    "${as_user[@]}" "${user_env[@]}" "$build/bin/oru-driver" --pointer uinput >"$dir/driver.log" 2>&1 &
    driver=$!
    passes=(right-handed)
    [[ -n $left_handed ]] && passes+=("left-handed=$left_handed")
    python3 "$top/tests/kernel/wayland-pen.py" run "$board" "$layout" "$dir/probe.log" "$build" "$dir" "$c" "${passes[@]}" |
      tee "$dir/rows"
    ((PIPESTATUS[0] == 0)) || grep -q FAILED "$dir/rows" ||
      echo "$c $layout: FAILED: wayland-pen.py ended without a verdict (see above)" | tee -a "$dir/rows"
    made=$(($(dmesg | grep -c 'input: oruDriver pen as') - made))  # the kernel's line for each device made
    ((made == 1)) || echo "$c $layout: FAILED: the driver made its pointer $made times, not once" | tee -a "$dir/rows"
    grep FAILED "$dir/rows" >>"$results/failed"
    kill $driver $probe
    wait $driver $probe
    eval "$stop" 2>/dev/null
    echo "($c $layout: $((SECONDS - started)) s)"
  done
done
if [[ -s $results/failed ]]; then
  echo "wayland stage FAILED: $(wc -l <"$results/failed") rows failed (each line above says why; their files are in $results):"
  cut -c1-26 "$results/failed"
  exit 1
fi
echo "wayland stage: every row ok"
