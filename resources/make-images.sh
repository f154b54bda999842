#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the launcher's images with ImageMagick. Run it again after changing a picture here;
# the images it writes are committed, so building needs no ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
for tool in convert rsvg-convert; do
    command -v $tool >/dev/null \
        || { echo "make-images.sh needs ImageMagick and rsvg-convert (apt-get install imagemagick librsvg2-bin)" >&2; exit 1; }
done

# Application icon: a dark sphere patterned with white discs.
convert -size 128x128 radial-gradient:'#4a5a78'-'#0b1020' \
    \( -size 128x128 xc:black -fill white -draw 'circle 64,64 64,2' \) \
    -alpha off -compose CopyOpacity -composite \
    -fill 'rgba(255,255,255,0.92)' \
    -draw 'circle 64,40 64,28' -draw 'circle 38,70 38,60' -draw 'circle 90,70 90,60' \
    -draw 'circle 64,94 64,86' -draw 'circle 42,36 42,31' -draw 'circle 86,36 86,31' \
    -draw 'circle 24,52 24,48' -draw 'circle 104,52 104,48' -draw 'circle 64,66 64,62' \
    -fill 'rgba(255,255,255,0.25)' -draw 'ellipse 46,30 18,10 0,360' \
    -define png:color-type=6 icon.png

# Start: a white play triangle on a green rounded square.
convert -size 48x48 xc:none -fill '#2e9d44' -stroke '#1f6e2f' -strokewidth 2 \
    -draw 'roundrectangle 2,2 45,45 8,8' -stroke none -fill white \
    -draw 'polygon 17,12 17,36 37,24' -define png:color-type=6 play.png

# Stop: a red octagonal stop sign.
convert -size 48x48 xc:none -fill '#c62828' -stroke white -strokewidth 2 \
    -draw 'polygon 16,2 32,2 46,16 46,32 32,46 16,46 2,32 2,16' \
    -stroke none -fill white -draw 'rectangle 11,21 37,27' -define png:color-type=6 stop.png

# Busy indicator: twelve dots, one bright dot running round. A GIF has no partial transparency,
# so the frames are drawn on the colour of the panel that shows them, four times larger and then
# scaled down, which smooths the dots' edges against that colour.
panel='#ececec'
frames=()
for i in $(seq 0 11); do
    args=()
    for j in $(seq 0 11); do
        angle=$(awk -v j="$j" 'BEGIN { print j * 3.14159265 / 6 }')
        x=$(awk -v a="$angle" 'BEGIN { printf "%d", 4 * (96 + 62 * sin(a)) }')
        y=$(awk -v a="$angle" 'BEGIN { printf "%d", 4 * (96 - 62 * cos(a)) }')
        age=$(( (i - j + 12) % 12 ))
        shade=$(( 40 + age * 17 ))
        r=$(( 4 * (14 - age / 2) ))
        args+=(-fill "rgb($shade,$(( 90 + age * 12 )),$(( 200 - age * 5 )))" -draw "circle $x,$y $((x + r)),$y")
    done
    f=$(mktemp --suffix=.png)
    convert -size 772x768 xc:"$panel" "${args[@]}" -resize 193x192 "$f"
    frames+=("$f")
done
convert -delay 8 -loop 0 -dispose previous "${frames[@]}" loader.gif
rm -f "${frames[@]}"

# Banner logo.
convert -size 300x43 xc:none \
    -fill '#17325c' -draw 'roundrectangle 0,0 299,42 6,6' \
    -fill '#2e9d44' -draw 'circle 22,21 22,8' -fill white -draw 'circle 22,21 22,15' \
    -font DejaVu-Sans-Bold -pointsize 20 -fill white -annotate +44+28 'MOLTRA' \
    -font DejaVu-Sans -pointsize 15 -fill '#cfe3ff' -annotate +141+28 'Farbo Starter' \
    -define png:color-type=6 logo.png

# Settings dialog icon: a gear.
convert -size 32x32 xc:none -fill '#546e7a' \
    -draw 'circle 16,16 16,5' \
    -draw 'rectangle 13,1 19,31' -draw 'rectangle 1,13 31,19' \
    -draw 'polygon 4,8 8,4 28,24 24,28' -draw 'polygon 24,4 28,8 8,28 4,24' \
    -fill white -draw 'circle 16,16 16,11' -define png:color-type=6 icons/res/settings_32.png

# No time stamps in the files, so that drawing them again changes nothing.
mogrify -strip icon.png play.png stop.png logo.png icons/res/settings_32.png

# Desktop icon: the application icon as a scalable drawing, and rendered at the usual sizes of
# the hicolor theme.
id=org.quillmoor.MoltraFarboStarter
mkdir -p icons/hicolor/scalable/apps
cat > icons/hicolor/scalable/apps/$id.svg <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <defs>
    <radialGradient id="sphere" cx="0.4" cy="0.35" r="0.7">
      <stop offset="0" stop-color="#4a5a78"/>
      <stop offset="1" stop-color="#0b1020"/>
    </radialGradient>
  </defs>
  <circle cx="64" cy="64" r="62" fill="url(#sphere)"/>
  <g fill="#ffffff" fill-opacity="0.92">
    <circle cx="64" cy="40" r="12"/>
    <circle cx="38" cy="70" r="10"/>
    <circle cx="90" cy="70" r="10"/>
    <circle cx="64" cy="94" r="8"/>
    <circle cx="42" cy="36" r="5"/>
    <circle cx="86" cy="36" r="5"/>
    <circle cx="24" cy="52" r="4"/>
    <circle cx="104" cy="52" r="4"/>
    <circle cx="64" cy="66" r="4"/>
  </g>
  <ellipse cx="46" cy="30" rx="18" ry="10" fill="#ffffff" fill-opacity="0.25"/>
</svg>
SVG
for size in 16 24 32 48 64 128 256; do
    mkdir -p icons/hicolor/${size}x${size}/apps
    rsvg-convert -w $size -h $size icons/hicolor/scalable/apps/$id.svg \
        | convert - -define png:color-type=6 -strip icons/hicolor/${size}x${size}/apps/$id.png
done
