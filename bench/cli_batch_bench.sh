#!/usr/bin/env bash
# Files per second of pimo-cli over a folder of 100 mixed images, with one
# and with two workers, beside ImageMagick's mogrify doing the JPEG part of
# the same work (re-encoding the JPEG files at quality 75).
#
# Usage: bench/cli_batch_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs ImageMagick's convert and mogrify.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build/cli/pimo-cli}
[[ -x $cli ]] || { echo "pimo-cli not found at $cli" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 100 images from generated plasma pictures: 20 sources, each as a large
# JPEG, a half-size JPEG, a PNG, a quarter-size PNG and a GIF.
in=$work/in
mkdir -p "$in"
for i in $(seq 1 20); do
    base=$work/base$i.png
    convert -size 640x480 -seed "$i" plasma:fractal -blur 0x1 "$base"
    convert "$base" -quality 95 "$in/photo$i.jpg"
    convert "$base" -resize 50% -quality 92 "$in/half$i.jpg"
    convert "$base" "$in/plain$i.png"
    convert "$base" -resize 25% "$in/small$i.png"
    convert "$base" -resize 50% -colors 128 "$in/pic$i.gif"
done
count=$(find "$in" -type f | wc -l)
jpegs=$(find "$in" -type f -name '*.jpg' | wc -l)
mkdir -p "$work/jpeg"
cp "$in"/*.jpg "$work/jpeg/"

now() { date +%s.%N; }
rate() { awk -v n="$1" -v s="$2" -v e="$3" 'BEGIN { printf "%.1f", n / (e - s) }'; }
seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.2f", e - s }'; }

run_cli() {  # jobs input-folder output-folder
    rm -rf "$3"
    XDG_DATA_HOME=$work/xdg "$cli" --jobs "$1" "$2" -o "$3" > /dev/null
}

run_cli 1 "$in" "$work/warm"  # warm the caches
start=$(now); run_cli 1 "$in" "$work/out1"; end=$(now)
all1=$(rate "$count" "$start" "$end"); t1=$(seconds "$start" "$end")
start=$(now); run_cli 2 "$in" "$work/out2"; end=$(now)
all2=$(rate "$count" "$start" "$end"); t2=$(seconds "$start" "$end")

start=$(now); run_cli 1 "$work/jpeg" "$work/jout1"; end=$(now)
jpeg1=$(rate "$jpegs" "$start" "$end")
start=$(now); run_cli 2 "$work/jpeg" "$work/jout2"; end=$(now)
jpeg2=$(rate "$jpegs" "$start" "$end")
mkdir -p "$work/mout"
start=$(now); mogrify -path "$work/mout" -quality 75 "$work/jpeg"/*.jpg; end=$(now)
mog=$(rate "$jpegs" "$start" "$end")

echo "images: $count ($jpegs JPEG)"
echo "pimo-cli --jobs 1: $all1 files/s ($t1 s)"
echo "pimo-cli --jobs 2: $all2 files/s ($t2 s), speed-up $(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.2f", a / b }')x"
echo "JPEG part: pimo-cli --jobs 1 $jpeg1 files/s, --jobs 2 $jpeg2 files/s; mogrify -quality 75 $mog files/s"
