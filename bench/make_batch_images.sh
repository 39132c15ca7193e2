#!/usr/bin/env bash
# Writes the batch benchmarks' 100 images into the folder DIR (made when
# missing): 20 generated plasma pictures, each as a large JPEG, a half-size
# JPEG, a PNG, a quarter-size PNG and a GIF. Needs ImageMagick's convert.
#
# Usage: bench/make_batch_images.sh DIR
set -euo pipefail
in=$1
mkdir -p "$in"
base_dir=$(mktemp -d)
trap 'rm -rf "$base_dir"' EXIT
for i in $(seq 1 20); do
    base=$base_dir/base$i.png
    convert -size 640x480 -seed "$i" plasma:fractal -blur 0x1 "$base"
    convert "$base" -quality 95 "$in/photo$i.jpg"
    convert "$base" -resize 50% -quality 92 "$in/half$i.jpg"
    convert "$base" "$in/plain$i.png"
    convert "$base" -resize 25% "$in/small$i.png"
    convert "$base" -resize 50% -colors 128 "$in/pic$i.gif"
done
