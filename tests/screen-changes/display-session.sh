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
# The environment, the tray host and the rest (oru_session_run,
# oru_session_watch_pidfile, oru_session_stop) come from x-session.sh.

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
  local work=$1 config=$2
  oru_session_need "trayer, xdotool, x11-xserver-utils and x11-utils" trayer xdotool xrandr xdpyinfo || return 1
  oru_session_prepare "$work"

  # The server itself, not the Xorg.wrap of /usr/bin/Xorg (console users
  # only); it runs as any user. No virtual terminal is touched (-novtswitch
  # -sharevts). Its log names missing mouse and keyboard drivers: none is
  # needed, XTest's own devices move the pointer.
  : >"$work/display"
  "$oru_display_xorg" -displayfd 3 -config "$config" -logfile "$work/xorg.log" \
    -nolisten tcp -noreset -novtswitch -sharevts 3>"$work/display" >"$work/xorg.out" 2>&1 &
  oru_session_services+=($!)
  if ! oru_session_await 20 "Xorg (dummy video driver)" "$work/xorg.out" "${oru_session_services[0]}" \
    oru_display_answers "$work/display"; then
    grep -E '\(EE\)' "$work/xorg.log" >&2 || true
    return 1
  fi
  DISPLAY=:$(head -n1 "$work/display")
  export DISPLAY

  oru_session_start_tray "$work"
}

# oru_display_answers DISPLAYFILE: the server named in DISPLAYFILE answers.
oru_display_answers() { [[ -s $1 ]] && DISPLAY=:$(head -n1 "$1") xdpyinfo >/dev/null 2>&1; }
