#!/usr/bin/env bash
# The cost of decoding each file in a child process: pimo-cli over the 100
# mixed images of cli_batch_bench.sh, isolated (the default) beside
# --decode-in-process, with one and with two workers. Reports the median wall
# time and the median CPU time (pimo-cli and its decoder children), runs of the
# two modes interleaved so that a busy moment of the machine does not decide.
#
# Usage: bench/isolated_decode_batch_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs ImageMagick's convert.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build/cli/pimo-cli}
[[ -x $cli ]] || { echo "pimo-cli not found at $cli" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

in=$work/in
"$root/bench/make_batch_images.sh" "$in"
count=$(find "$in" -type f | wc -l)

repeats=${PIMO_BENCH_REPEATS:-5}
measure() {  # jobs extra-option...: "wall-ms cpu-ms" of one run
    rm -rf "$work/out"
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%U %S" -o "$work/cpu" env XDG_DATA_HOME="$work/xdg" \
        "$cli" --jobs "$1" "${@:2}" "$in" -o "$work/out" > /dev/null
    end=$(date +%s%N)
    awk -v wall=$(((end - start) / 1000000)) '{ printf "%d %d\n", wall, ($1 + $2) * 1000 }' "$work/cpu"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

measure 1 > /dev/null  # warm the caches
for jobs in 1 2; do
    : > "$work/iso"; : > "$work/here"
    for _ in $(seq "$repeats"); do
        measure "$jobs" >> "$work/iso"
        measure "$jobs" --decode-in-process >> "$work/here"
    done
    iw=$(cut -d' ' -f1 < "$work/iso" | median); ic=$(cut -d' ' -f2 < "$work/iso" | median)
    hw=$(cut -d' ' -f1 < "$work/here" | median); hc=$(cut -d' ' -f2 < "$work/here" | median)
    echo "$count images, --jobs $jobs, medians of $repeats runs:" \
        "isolated ${iw} ms wall, ${ic} ms CPU; in-process ${hw} ms wall, ${hc} ms CPU;" \
        "isolated/in-process: wall $(awk -v a="$iw" -v b="$hw" 'BEGIN { printf "%.3f", a / b }')," \
        "CPU $(awk -v a="$ic" -v b="$hc" 'BEGIN { printf "%.3f", a / b }')"
done
