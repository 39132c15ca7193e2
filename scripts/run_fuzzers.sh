#!/usr/bin/env bash
# Runs every fuzz target of a fuzzing build for a bounded time, two at a time,
# each from its seed corpus in fuzz/corpus/<target>/ (copied, so the tree keeps
# only the seeds). Fails when a target finds a crash, a leak or a timeout; the
# input that caused it is kept and named.
#
# Usage: scripts/run_fuzzers.sh BUILD-DIR [SECONDS-PER-TARGET]
# (default 15 s; PIMO_FUZZ_SECONDS=600 scripts/test.sh fuzzes longer).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: run_fuzzers.sh BUILD-DIR [SECONDS]}
seconds=${2:-15}
work=$(mktemp -d)
echo "fuzzing: ${seconds} s per target, work folder $work"

run_one() {  # target
    local target=$1 corpus=$work/$1
    mkdir -p "$corpus" "$work/artifacts-$1"
    cp -r "fuzz/corpus/$target/." "$corpus/" 2>/dev/null || true
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
        -artifact_prefix="$work/artifacts-$target/" -print_final_stats=0 "$corpus" \
        > "$work/$target.log" 2>&1; then
        echo "fuzz $target: ok ($(grep -c . <<< "$(ls "$corpus")") inputs)"
    else
        echo "fuzz $target: FAILED, see $work/$target.log and $work/artifacts-$target/" >&2
        tail -n 30 "$work/$target.log" >&2
        return 1
    fi
}
export -f run_one
export build seconds work

targets=$(cd fuzz && ls ./*_fuzz.cpp | sed 's|^\./||; s|\.cpp$||')
if printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run_one {}'; then
    rm -rf "$work"
else
    exit 1
fi
