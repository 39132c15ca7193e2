#!/usr/bin/env bash
# The cost of decoding each file in a child process: pimo-cli over the 100
# mixed images of cli_batch_bench.sh, isolated (the default) beside
# --decode-in-process, with one and with two workers. Reports the median wall
# time and the median CPU time, runs of the two modes interleaved (which goes
# first alternates) so that a busy moment of the machine does not decide.
#
# The CPU time is that of the whole process tree: pimo-cli, its decoder
# launcher and every decoder process. The launcher outlives pimo-cli by a
# moment and is never waited for by it, so a plain `time` misses the decoders;
# each run is made under a process that adopts the orphans and waits for them.
#
# Usage: bench/isolated_decode_batch_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs ImageMagick's convert and python3.
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
# Runs a command as the reaper of everything it leaves behind; prints its wall
# time (until the command itself ends) and the CPU time of all of it, in ms.
tree_time() {
    python3 - "$@" <<'PY'
import ctypes, os, resource, subprocess, sys, time
PR_SET_CHILD_SUBREAPER = 36
ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
wall = time.monotonic() - start
while True:
    try:
        os.wait()
    except ChildProcessError:
        break
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(round(wall * 1000), round((used.ru_utime + used.ru_stime) * 1000))
PY
}
measure() {  # jobs extra-option...: "wall-ms cpu-ms" of one run
    rm -rf "$work/out"
    tree_time env XDG_DATA_HOME="$work/xdg" "$cli" --jobs "$1" "${@:2}" "$in" -o "$work/out"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

measure 1 > /dev/null  # warm the caches
for jobs in 1 2; do
    : > "$work/iso"; : > "$work/here"
    for round in $(seq "$repeats"); do
        if ((round % 2)); then
            measure "$jobs" >> "$work/iso"
            measure "$jobs" --decode-in-process >> "$work/here"
        else
            measure "$jobs" --decode-in-process >> "$work/here"
            measure "$jobs" >> "$work/iso"
        fi
    done
    iw=$(cut -d' ' -f1 < "$work/iso" | median); ic=$(cut -d' ' -f2 < "$work/iso" | median)
    hw=$(cut -d' ' -f1 < "$work/here" | median); hc=$(cut -d' ' -f2 < "$work/here" | median)
    echo "$count images, --jobs $jobs, medians of $repeats runs each, load $(cut -d' ' -f1 /proc/loadavg):" \
        "isolated ${iw} ms wall, ${ic} ms CPU; in-process ${hw} ms wall, ${hc} ms CPU;" \
        "isolated/in-process: wall $(awk -v a="$iw" -v b="$hw" 'BEGIN { printf "%.3f", a / b }')," \
        "CPU $(awk -v a="$ic" -v b="$hc" 'BEGIN { printf "%.3f", a / b }')"
done
