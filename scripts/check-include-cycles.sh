#!/bin/bash
# Fails when folders of the source tree include each other in a cycle.
#
#   scripts/check-include-cycles.sh [SOURCE_DIR]     (default: src/ beside this script)
#
# A folder depends on another when one of its files includes a header of the
# other by its path from SOURCE_DIR ("device/HidDevice.h"); platform/linux
# counts as a folder of its own. The one dependency allowed against the
# direction of the others is the main window's state record: the report
# handler (pen/) and the calibration (calibration/) work on it, so they include
# app/MainFormState.h while app/ calls them.
set -euo pipefail

src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
state_record=app/MainFormState.h
state_record_users=" pen calibration "

cd "$src"
# One line per include of another folder: "<folder> <included folder> <file> <included header>".
edges=$(find . -type f \( -name '*.h' -o -name '*.cpp' \) -printf '%P\n' | sort | while read -r file; do
    folder=$(dirname "$file")
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\/[^"]*\)".*/\1/p' "$file" | while read -r header; do
        target=$(dirname "$header")
        [ "$target" = "$folder" ] && continue
        [ -e "$header" ] || continue  # not a header of this tree (tests' fakes, generated files)
        if [ "$header" = "$state_record" ] && [[ "$state_record_users" == *" $folder "* ]]; then continue; fi
        echo "$folder $target $file $header"
    done
done)

# tsort names the folders of each loop it finds on stderr.
loops=$(printf '%s\n' "$edges" | awk 'NF { print $1, $2 }' | sort -u | tsort 2>&1 >/dev/null || true)
if [ -z "$loops" ]; then
    echo "No include cycles between the folders of $src."
    exit 0
fi
members=" $(printf '%s\n' "$loops" | sed -n 's/^tsort: \([^:]*\)$/\1/p' | tr '\n' ' ')"
echo "Folders of $src include each other in a cycle:"
printf '%s\n' "$loops" | sed -n 's/^tsort: \([^:]*\)$/  \1/p'
echo "Includes between those folders (move the shared type to the folder that owns it, or to common/):"
printf '%s\n' "$edges" | while read -r from to file header; do
    [[ "$members" == *" $from "* && "$members" == *" $to "* ]] && echo "  $file includes $header"
done
exit 1
