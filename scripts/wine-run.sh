#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine64, in a wine prefix of
# its own (never the user's ~/.wine):
#   wine-run.sh PREFIX PROGRAM [ARG...]   run it; its exit status and its
#                                         standard streams, untouched
#   wine-run.sh PREFIX --init             make the prefix (the first time only)
#   wine-run.sh PREFIX --kill             end the prefix's wineserver
# Making a prefix takes 10-30 s; parallel runs wait for the first one under a
# lock. No window, no debug output, no offer to install Mono or Gecko, and no
# menu entries or file types written into the home folder.
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
export WINEPREFIX=$prefix WINESERVER=$wine_dir/wineserver64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [[ $1 == --kill ]]; then
  "$WINESERVER" -k 2>/dev/null || true  # none running is fine
  exit 0
fi
mkdir -p "$(dirname "$prefix")"
(
  flock 9
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
[[ $1 == --init ]] && exit 0
exec "$wine_dir/wine64" "$@"
