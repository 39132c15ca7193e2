#!/usr/bin/env bash
# Compress to a quality target against a fixed-quality recompressor: pimo-cli
# --target-quality (1.5, and 2 and 2.5 for the distances jpegoptim reaches)
# over a folder of JPEG photographs, beside jpegoptim
# --max=85 and --max=75 on the same files. For each: the bytes written and
# the perceptual distance each output reaches, measured for all three the
# same way, by butteraugli_main on the decoded source and output.
#
# Usage: bench/target_quality_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs ImageMagick's convert, djpeg,
# jpegoptim and butteraugli_main.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build/cli/pimo-cli}
[[ -x $cli ]] || { echo "pimo-cli not found at $cli" >&2; exit 2; }
targets=${PIMO_TARGET_QUALITIES:-1.5 2 2.5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The photographs: the sample picture and generated plasma pictures of two
# sizes, saved as a camera or an editor would, at quality 92 to 95.
in=$work/in
mkdir -p "$in"
cp "$root/samples/sample.jpg" "$in/sample.jpg"
for i in $(seq 1 8); do
    size=$((i % 2 ? 1600 : 1024))x$((i % 2 ? 1200 : 768))
    convert -size "$size" -seed "$i" plasma:fractal -blur 0x2 -quality $((91 + i % 5)) "$in/photo$i.jpg"
done

tools=()
for target in $targets; do
    tool=pimo${target/./_}
    tools+=("$tool")
    start=$(date +%s%N)
    XDG_DATA_HOME=$work/xdg "$cli" --mode manual -f jpeg --target-quality "$target" --json \
        "$in" -o "$work/$tool" > "$work/$tool.json"
    eval "${tool}_ms=$((($(date +%s%N) - start) / 1000000))"
    eval "${tool}_label='pimo-cli --target-quality $target'"
done
for max in 85 75; do
    mkdir -p "$work/jpegoptim$max"
    start=$(date +%s%N)
    jpegoptim -q --strip-all --max=$max -d "$work/jpegoptim$max" "$in"/*.jpg
    eval "jpegoptim${max}_ms=$((($(date +%s%N) - start) / 1000000))"
    eval "jpegoptim${max}_label='jpegoptim --max=$max'"
    tools+=("jpegoptim$max")
done

# distance SOURCE OUTPUT: butteraugli_main's maximum distance of the decoded pixels.
distance() {
    djpeg -dct int -ppm "$1" > "$work/a.ppm"
    djpeg -dct int -ppm "$2" > "$work/b.ppm"
    butteraugli_main "$work/a.ppm" "$work/b.ppm" 2>/dev/null | head -1
}
calc() { awk "BEGIN { print $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

before=$(cat "$in"/*.jpg | wc -c)
printf '%d photographs, %d bytes\n\n' "$(ls "$in" | wc -l)" "$before"
printf '%-32s %10s %8s %8s %8s %8s\n' tool bytes saved median max seconds
for tool in "${tools[@]}"; do
    bytes=0
    : > "$work/$tool.distances"
    for source in "$in"/*.jpg; do
        output=$work/$tool/$(basename "$source")
        bytes=$((bytes + $(stat -c %s "$output")))
        distance "$source" "$output" >> "$work/$tool.distances"
    done
    eval "ms=\$${tool}_ms label=\$${tool}_label ${tool}_bytes=$bytes"
    printf '%-32s %10d %7.1f%% %8.3f %8.3f %8.1f\n' "$label" "$bytes" \
        "$(calc "100 * ($before - $bytes) / $before")" \
        "$(median < "$work/$tool.distances")" "$(sort -g "$work/$tool.distances" | tail -1)" \
        "$(calc "$ms / 1000")"
done
echo
for target in $targets; do
    eval "bytes=\$pimo${target/./_}_bytes"
    printf 'pimo-cli --target-quality %s against jpegoptim --max=85: %.1f%% fewer bytes\n' \
        "$target" "$(calc "100 * ($jpegoptim85_bytes - $bytes) / $jpegoptim85_bytes")"
done
