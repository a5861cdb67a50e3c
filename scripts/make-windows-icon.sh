#!/usr/bin/env bash
# Makes src/winui/oru-driver.ico, the Windows program's icon (Explorer, the
# installer, the taskbar): the green "oru" square of the Linux desktop icon
# (packaging/oru-driver.svg) at 16, 32, 48 and 256 pixels, each drawn at its
# own size so the text stays sharp. Run it after changing the design and
# commit the .ico; the build uses the committed file and needs no ImageMagick.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
frames=()
for size in 256 48 32 16; do
  # The SVG's proportions: text 7/16 of the square high, baseline at 11/16.
  pointsize=$(( size * 7 / 16 ))
  baseline=$(( size * 11 / 16 ))
  convert -size "${size}x${size}" xc:'#008000' -font "$font" -pointsize "$pointsize" -fill white \
    -gravity north -annotate "+0+$(( baseline - pointsize * 3 / 4 - (size >= 32 ? 1 : 0) ))" oru \
    "PNG32:$work/$size.png"
  frames+=("$work/$size.png")
done
convert "${frames[@]}" "$top/src/winui/oru-driver.ico"
