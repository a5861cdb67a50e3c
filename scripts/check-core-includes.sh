#!/bin/bash
# Fails when a file of the core includes a header of Qt, of POSIX or Linux
# beyond standard C++, of udev, of X11 or of Windows (the Win32 API, the C
# runtime's own headers): the core builds on any platform with a C++20
# compiler, and only the platform backends and the windows may use these.
#
#   scripts/check-core-includes.sh FILE...      (@LIST reads file names from LIST, one a line)
#
# CTest runs it on every source and header of oru_core.
set -euo pipefail

files=()
for arg in "$@"; do
    if [[ "$arg" == @* ]]; then
        while IFS= read -r line; do [ -n "$line" ] && files+=("$line"); done <"${arg#@}"
    else
        files+=("$arg")
    fi
done
if [ ${#files[@]} -eq 0 ]; then
    echo "usage: $0 FILE... | @LIST" >&2
    exit 2
fi

qt='Qt[A-Za-z]*/.*|Q[A-Za-z0-9]*|q[a-z0-9_]*\.h'
posix='unistd|fcntl|poll|pthread|dirent|dlfcn|termios|pwd|grp|sched|semaphore|spawn|syslog|libgen|glob|fnmatch|netdb|strings|mqueue|aio|sys/.*|arpa/.*|net/.*|netinet/.*'
linux='linux/.*|asm/.*|libudev|libevdev/.*|umockdev/.*'
x11='X11/.*|xcb/.*'
# Windows' file systems ignore case: <Windows.h> is <windows.h>.
windows='[Ww]in[A-Za-z0-9_]*|[A-Za-z0-9_]*[Aa][Pp][Ii]|[Ss]hl[A-Za-z]*|[Cc]omm(ctrl|dlg)|[Ss]etup[Aa][Pp][Ii]|[Hh]id(sdi|pi|usage)|[Dd]bt|[Cc]fgmgr32|[Dd]evguid|[Ii]nitguid|[Oo]bj(base|idl)|[Oo]le[A-Za-z0-9]*|[Mm]msystem|[Tt]lhelp32|[Pp]sapi|[Dd]wmapi|[Uu]xtheme|[Vv]ersion[Hh]elpers|[Ss]dkddkver|[Nn]t[a-z]*|[Tt]char|[Ii]o|[Pp]rocess|[Dd]irect|[Cc]onio|[Mm]alloc|[Cc]rtdbg|[Ii]ntrin'
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](${qt}|(${posix}|${linux}|${windows})\\.h|${x11})[>\"]"

found=0
for file in "${files[@]}"; do
    if [ ! -r "$file" ]; then
        echo "cannot read $file" >&2
        exit 2
    fi
    lines=$(grep -HnE "$pattern" "$file" || true)
    if [ -n "$lines" ]; then
        printf '%s\n' "$lines"
        found=$((found + $(printf '%s\n' "$lines" | wc -l)))
    fi
done
if [ $found -ne 0 ]; then
    echo "The core includes $found platform headers (above). Put that code behind an interface in platform/" \
         "with its backends in platform/linux/ (and Windows'), or in a window (oru_qtui)."
    exit 1
fi
echo "${#files[@]} files of the core include only standard C++ and the core's own headers."
