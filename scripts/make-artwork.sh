#!/usr/bin/env bash
# Regenerates the program's images (src/resources/images) from the SVG sources
# in src/resources/artwork, and the application icon at the icon theme's sizes
# (packaging/icons). The results are committed, so ordinary builds never
# need the tools used here.
set -euo pipefail
cd "$(dirname "$0")/.."
ART=src/resources/artwork
OUT=src/resources/images
# /usr/local/bin/convert may be something else; ImageMagick lives in /usr/bin.
MAGICK=/usr/bin/convert

if ! command -v rsvg-convert >/dev/null || [ ! -x "$MAGICK" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends librsvg2-bin imagemagick
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$OUT"

# png NAME WIDTH HEIGHT: NAME.png at the given size and NAME@2x.png at twice it.
png() {
  rsvg-convert -w "$2" -h "$3" -o "$OUT/$1.png" "$ART/$1.svg"
  rsvg-convert -w $(($2 * 2)) -h $(($3 * 2)) -o "$OUT/$1@2x.png" "$ART/$1.svg"
}

# GIF has one-bit transparency: edge pixels that are mostly covered keep their
# colour blended on a light grey (the usual window background), the rest become
# transparent, so edges stay smooth on light backgrounds without a dark fringe.
gif_frame() {
  "$MAGICK" "$1" \
    \( -clone 0 -background '#efefef' -alpha remove -alpha off \) \
    \( -clone 0 -alpha extract -threshold 40% \) \
    -delete 0 -compose copy_opacity -composite "$2"
}

# still_gif NAME SIZE: NAME.gif and NAME@2x.gif.
still_gif() {
  for scale in 1 2; do
    local suffix=""
    [ "$scale" -eq 1 ] || suffix="@2x"
    rsvg-convert -w $(($2 * scale)) -h $(($2 * scale)) -o "$work/$1.png" "$ART/$1.svg"
    gif_frame "$work/$1.png" "$work/$1-frame.png"
    "$MAGICK" "$work/$1-frame.png" "$OUT/$1$suffix.gif"
  done
}

png quilloralite 128 128
# The icon theme's other sizes; its 128 and 256 are the two images just made.
for size in 16 22 24 32 48 64; do
  rsvg-convert -w "$size" -h "$size" -o "packaging/icons/quilloralite-$size.png" "$ART/quilloralite.svg"
done
png qvlite_logo_white 300 90
png opinione 160 40
for icon in upload folder impostazioni log_out help; do
  png "$icon" 32 32
done
for icon in ricerca cloudandpc cloudonly check cancel; do
  png "$icon" 16 16
done
png info 24 24
png conservato 128 128
png nonconservato 128 128
still_gif calendar 16

# The spinner's bars sit 30 degrees apart, so turning the whole drawing by 30
# degrees per frame moves the shading one bar on: twelve frames make a loop.
frames=()
for i in $(seq 0 11); do
  sed "s|<g transform=\"rotate(0 16 16)\">|<g transform=\"rotate($((i * 30)) 16 16)\">|" \
    "$ART/loading.svg" >"$work/loading-$i.svg"
  rsvg-convert -w 32 -h 32 -o "$work/loading-$i.png" "$work/loading-$i.svg"
  gif_frame "$work/loading-$i.png" "$work/loading-$i-frame.png"
  frames+=("$work/loading-$i-frame.png")
done
"$MAGICK" -dispose Background -delay 8 -loop 0 "${frames[@]}" "$OUT/loading.gif"

echo "artwork written to $OUT"
