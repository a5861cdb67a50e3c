# shellcheck shell=bash
# Sourced by the display test: the private session of testing/x-session.sh
# (tray host, empty per-user environment, clean-up on every way out), but on
# Xorg with the dummy video driver, whose screens can change while programs
# run: Xvfb's RandR can neither change a mode nor add an output.
#
#   oru_display_available                 true when Xorg and the dummy driver
#                                         are installed (else says what's missing)
#   oru_display_start WORKDIR CONFIG      starts Xorg with CONFIG and trayer,
#                                         exports DISPLAY, XDG_*, HOME
# The rest (oru_session_run, oru_session_watch_pidfile, oru_session_stop)
# comes from x-session.sh.

oru_display_xorg=/usr/lib/xorg/Xorg
oru_display_dummy=/usr/lib/xorg/modules/drivers/dummy_drv.so

oru_display_available() {
  local missing=()
  [[ -x $oru_display_xorg ]] || missing+=(xserver-xorg-core)
  [[ -e $oru_display_dummy ]] || missing+=(xserver-xorg-video-dummy)
  command -v xrandr >/dev/null || missing+=(x11-xserver-utils)
  if ((${#missing[@]})); then
    echo "Xorg with the dummy video driver is not installed: install the Debian packages ${missing[*]} (scripts/install-deps.sh)" >&2
    return 1
  fi
}

oru_display_start() {
  local work=$1 config=$2 tool
  for tool in trayer xdotool xrandr xdpyinfo; do
    command -v "$tool" >/dev/null || {
      echo "$tool not found: install the Debian packages trayer, xdotool, x11-xserver-utils and x11-utils (scripts/install-deps.sh)" >&2
      return 1
    }
  done
  mkdir -p "$work"
  # shellcheck disable=SC2034 # x-session.sh's clean-up removes it
  oru_session_work=$work
  trap 'oru_session_stop' EXIT
  trap 'oru_session_stop; trap - EXIT; exit 130' INT TERM HUP

  export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/oru-display QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY XAUTHORITY

  # The server itself, not the Xorg.wrap of /usr/bin/Xorg (console users
  # only); it runs as any user. No virtual terminal is touched (-novtswitch
  # -sharevts). Its log names missing mouse and keyboard drivers: none is
  # needed, XTest's own devices move the pointer.
  : >"$work/display"
  "$oru_display_xorg" -displayfd 3 -config "$config" -logfile "$work/xorg.log" \
    -nolisten tcp -noreset -novtswitch -sharevts 3>"$work/display" >"$work/xorg.out" 2>&1 &
  oru_session_services+=($!)
  local deadline=$((SECONDS + 20))
  until [[ -s $work/display ]] && DISPLAY=:$(head -n1 "$work/display") xdpyinfo >/dev/null 2>&1; do
    if ((SECONDS >= deadline)) || ! kill -0 "${oru_session_services[0]}" 2>/dev/null; then
      echo "Xorg (dummy video driver) did not start; its log: $work/xorg.log" >&2
      cat "$work/xorg.out" >&2 || true
      grep -E '\(EE\)' "$work/xorg.log" >&2 || true
      return 1
    fi
    sleep 0.05
  done
  DISPLAY=:$(head -n1 "$work/display")
  export DISPLAY

  trayer --edge top --align right --widthtype request --height 24 --transparent false --SetDockType true \
    >"$work/trayer.log" 2>&1 &
  oru_session_services+=($!)
  deadline=$((SECONDS + 15))
  until [[ -n $(xdotool search --onlyvisible --class '^trayer$' 2>/dev/null) ]]; do
    if ((SECONDS >= deadline)) || ! kill -0 "${oru_session_services[1]}" 2>/dev/null; then
      echo "the tray host did not start; its log: $work/trayer.log" >&2
      cat "$work/trayer.log" >&2 || true
      return 1
    fi
    sleep 0.05
  done
}
