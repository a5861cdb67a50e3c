#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine64, in a wine prefix of
# its own (never the user's ~/.wine):
#   wine-run.sh PREFIX PROGRAM [ARG...]   run it; its exit status and its
#                                         standard streams, untouched
#   wine-run.sh PREFIX --init [DLL...]    make the prefix (the first time only);
#                                         put the DLLs into its system folder
#   wine-run.sh PREFIX --kill             end the prefix's wineserver and its X server
#   wine-run.sh PREFIX --display          print the prefix's X server (DISPLAY value)
# The prefix has one virtual X server of its own (Xvfb 1280x800, started with
# the prefix, its number in PREFIX.display): every program run here gets it
# as DISPLAY, so windows, the tray and the pointer of the Windows programs can
# be tested, and wine's desktop never meets the caller's display.
# Making a prefix takes 10-30 s; parallel runs wait for the first one under a
# lock. No window, no debug output, no offer to install Mono or Gecko, and no
# menu entries or file types written into the home folder.
# ORU_WINEDLLOVERRIDES adds DLL overrides: "hid,setupapi=n,b" makes a program
# load the stand-in hid.dll and setupapi.dll (tests/windows/hid-standin) that
# --init put into the system folder, where the programs look for them; other
# programs keep wine's own.
set -euo pipefail
if [[ $# -lt 2 ]]; then
  echo "usage: $0 PREFIX PROGRAM [ARG...] | PREFIX --init | PREFIX --kill" >&2
  exit 2
fi
prefix=$(realpath -m "$1")  # wine wants it absolute
shift
wine_dir=${ORU_WINE_DIR:-/usr/lib/wine}
if [[ ! -x $wine_dir/wine64 ]]; then
  echo "wine-run.sh: $wine_dir/wine64 not found: install the Debian package wine64" >&2
  exit 2
fi
export WINEPREFIX=$prefix WINESERVER=$wine_dir/wineserver64 WINEDEBUG=${ORU_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${ORU_WINEDLLOVERRIDES:+;$ORU_WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY XAUTHORITY

display_file=$prefix.display
xvfb_pid_file=$prefix.xvfb-pid
xvfb_running() {
  [[ -f $xvfb_pid_file && -f $display_file ]] && kill -0 "$(cat "$xvfb_pid_file")" 2>/dev/null
}

if [[ $1 == --kill ]]; then
  "$WINESERVER" -k 2>/dev/null || true  # none running is fine
  if xvfb_running; then kill "$(cat "$xvfb_pid_file")" 2>/dev/null || true; fi
  rm -f "$xvfb_pid_file" "$display_file"
  exit 0
fi
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if ! xvfb_running; then
    # Xvfb writes its display number once it accepts clients: no polling.
    command -v Xvfb >/dev/null || { echo "wine-run.sh: Xvfb not found: install the Debian package xvfb" >&2; exit 1; }
    rm -f "$display_file"
    number_pipe=$(mktemp -u "$prefix.displayfd.XXXXXX")
    mkfifo "$number_pipe"
    setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$number_pipe" \
      >"$prefix.xvfb.log" 2>&1 </dev/null 9>&- &
    echo $! >"$xvfb_pid_file"
    if ! read -r -t 30 number <"$number_pipe" || [[ -z $number ]]; then
      rm -f "$number_pipe"
      echo "wine-run.sh: the X server for the wine prefix did not start (log: $prefix.xvfb.log)" >&2
      exit 1
    fi
    rm -f "$number_pipe"
    echo ":$number" >"$display_file"
  fi
  export DISPLAY=$(cat "$display_file")
  if [[ ! -f $prefix/system.reg ]]; then
    log=$prefix.log
    if ! "$wine_dir/wine64" wineboot --init >"$log" 2>&1 </dev/null 9>&- || ! "$WINESERVER" -w ||
       [[ ! -f $prefix/system.reg ]]; then
      echo "wine-run.sh: making the wine prefix $prefix failed (log: $log)" >&2
      exit 1
    fi
  fi
  # A server that outlives each program by a minute: wine's own lingers 3 s,
  # and a program that connects while it shuts down fails ("recvmsg:
  # Connection reset by peer"), which a loaded machine's gaps between tests
  # made happen. Wine's background programs (services, device manager) live
  # as long as the server: a new server gets them started here, on /dev/null,
  # so that they don't keep the caller's output open (CTest and gtest's
  # listing wait for it to close). None of them may inherit the lock.
  if "$WINESERVER" -p60 >/dev/null 2>&1 </dev/null 9>&-; then  # status 2: one runs already
    "$wine_dir/wine64" cmd /c exit >/dev/null 2>&1 </dev/null 9>&- || true
  fi
) 9>"$prefix.lock" || exit 1
if [[ $1 == --init ]]; then
  shift
  (($# == 0)) || cp "$@" "$prefix/drive_c/windows/system32/"
  exit 0
fi
DISPLAY=$(cat "$display_file")
export DISPLAY
[[ $1 == --display ]] && { echo "$DISPLAY"; exit 0; }
exec "$wine_dir/wine64" "$@"
