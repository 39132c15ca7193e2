#!/usr/bin/env bash
# The dithering quantizer (libimagequant, --quantizer liq) beside pngquant,
# and our two plain quantizers (Wu, NeuQuant) for scale: 256-colour PNGs of
# two photographs and a screenshot, each scored for bytes, time and
# butteraugli distance to the original (lower is better; the max score and
# the 3-norm).
#
# Usage: bench/dither_quantizer_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs pngquant, ImageMagick's convert and
# butteraugli_main (Debian's libjxl-devtools).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build/cli/pimo-cli}
[[ -x $cli ]] || { echo "pimo-cli not found at $cli" >&2; exit 2; }
for tool in pngquant convert butteraugli_main; do
    command -v "$tool" > /dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"

# Two photographs: the sample photo and a larger smooth plasma picture.
convert "$root/samples/sample.jpg" "$work/in/photo.png"
convert -size 1600x1200 -seed 7 plasma:fractal -blur 0x1 "$work/in/plasma.png"
# A screenshot: flat panels, a gradient title bar, thin rules, anti-aliased
# shapes and a picture inside a window, as application windows show them.
convert -size 1280x800 xc:'#f3f3f3' \
    \( -size 1280x36 gradient:'#1f4e8c-#3a78c9' \) -geometry +0+0 -composite \
    -fill '#ffffff' -draw 'rectangle 24,60 620,760' \
    -fill '#e4e9f0' -draw 'rectangle 640,60 1256,300' \
    -stroke '#c8ccd2' -strokewidth 1 -draw 'line 24,100 620,100' -draw 'line 24,140 620,140' \
    -draw 'line 24,180 620,180' -draw 'line 24,220 620,220' \
    -stroke none -fill '#2e7d32' -draw 'roundrectangle 660,80 860,120 8,8' \
    -fill '#c62828' -draw 'circle 960,200 1000,200' \
    -fill '#f9a825' -draw 'ellipse 1120,200 90,50 0,360' \
    \( "$work/in/plasma.png" -resize 596x440! \) -geometry +640+320 -composite \
    "$work/in/screenshot.png"

# Milliseconds of wall time a command takes.
elapsed() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}

# "max 3-norm" of butteraugli between a reference and a result.
score() {
    butteraugli_main "$1" "$2" 2> /dev/null | awk 'NR == 1 { max = $1 } /3-norm/ { n = $2 } END { printf "%.2f %.2f", max, n }'
}

printf '%-11s %-10s %10s %8s %8s %8s\n' image method bytes ms ba_max ba_3norm
for image in photo plasma screenshot; do
    source=$work/in/$image.png
    for method in liq wu nn; do
        out=$work/$method
        ms=$(elapsed "$cli" --mode manual --format png --png-palette 256 --quantizer "$method" \
            --png-level 2 "$source" -o "$out")
        read -r max norm <<< "$(score "$source" "$out/$image.png")"
        printf '%-11s %-10s %10d %8d %8s %8s\n' "$image" "pimo-$method" \
            "$(stat -c %s "$out/$image.png")" "$ms" "$max" "$norm"
    done
    mkdir -p "$work/pngquant"
    ms=$(elapsed pngquant --force --output "$work/pngquant/$image.png" 256 "$source")
    read -r max norm <<< "$(score "$source" "$work/pngquant/$image.png")"
    printf '%-11s %-10s %10d %8d %8s %8s\n' "$image" pngquant \
        "$(stat -c %s "$work/pngquant/$image.png")" "$ms" "$max" "$norm"
done
