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
"$root/bench/make_batch_images.sh" "$in"
count=$(find "$in" -type f | wc -l)
jpegs=$(find "$in" -type f -name '*.jpg' | wc -l)
mkdir -p "$work/jpeg"
cp "$in"/*.jpg "$work/jpeg/"
# The same images in two halves, for the machine's own ceiling: two separate
# one-worker processes side by side share nothing but the machine.
mkdir -p "$work/halfA" "$work/halfB"
for i in $(seq 1 20); do
    if ((i % 2)); then cp "$in"/*"$i".* "$work/halfA/"; else cp "$in"/*"$i".* "$work/halfB/"; fi
done

# Each figure is the median of several runs, the runs of the different
# commands interleaved, so that a busy moment of the machine does not decide.
repeats=${PIMO_BENCH_REPEATS:-5}
millis() {  # command...: its wall time in milliseconds
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
run_cli() {  # jobs input-folder
    rm -rf "$work/out"
    XDG_DATA_HOME=$work/xdg "$cli" --jobs "$1" "$2" -o "$work/out"
}
run_two_processes() {
    rm -rf "$work/outA" "$work/outB"
    XDG_DATA_HOME=$work/xdg "$cli" --jobs 1 "$work/halfA" -o "$work/outA" &
    XDG_DATA_HOME=$work/xdg "$cli" --jobs 1 "$work/halfB" -o "$work/outB"
    wait
}
run_mogrify() {
    rm -rf "$work/mout" && mkdir -p "$work/mout"
    mogrify -path "$work/mout" -quality 75 "$work/jpeg"/*.jpg
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rate() { awk -v n="$1" -v ms="$2" 'BEGIN { printf "%.1f", n * 1000 / ms }'; }

run_cli 1 "$in" > /dev/null  # warm the caches
: > "$work/all1"; : > "$work/all2"; : > "$work/pair"; : > "$work/jpeg1"; : > "$work/jpeg2"; : > "$work/mog"
for _ in $(seq "$repeats"); do
    millis run_cli 1 "$in" >> "$work/all1"
    millis run_cli 2 "$in" >> "$work/all2"
    millis run_two_processes >> "$work/pair"
    millis run_cli 1 "$work/jpeg" >> "$work/jpeg1"
    millis run_cli 2 "$work/jpeg" >> "$work/jpeg2"
    millis run_mogrify >> "$work/mog"
done
[[ -n ${PIMO_BENCH_RAW:-} ]] && paste "$work/all1" "$work/all2" "$work/pair" "$work/jpeg1" "$work/jpeg2" "$work/mog" >&2
all1=$(median < "$work/all1"); all2=$(median < "$work/all2"); pair=$(median < "$work/pair")
jpeg1=$(median < "$work/jpeg1"); jpeg2=$(median < "$work/jpeg2"); mog=$(median < "$work/mog")

echo "images: $count ($jpegs JPEG), medians of $repeats runs"
echo "pimo-cli --jobs 1: $(rate "$count" "$all1") files/s ($all1 ms)"
echo "pimo-cli --jobs 2: $(rate "$count" "$all2") files/s ($all2 ms)," \
    "speed-up $(awk -v a="$all1" -v b="$all2" 'BEGIN { printf "%.2f", a / b }')x"
echo "two separate --jobs 1 processes on halves: $pair ms," \
    "speed-up $(awk -v a="$all1" -v b="$pair" 'BEGIN { printf "%.2f", a / b }')x (the machine's ceiling)"
echo "JPEG part: pimo-cli --jobs 1 $(rate "$jpegs" "$jpeg1") files/s," \
    "--jobs 2 $(rate "$jpegs" "$jpeg2") files/s;" \
    "mogrify -quality 75 $(rate "$jpegs" "$mog") files/s"
