#!/usr/bin/env bash
# Runs clang-tidy (the checks are .clang-tidy at the root) over every C++ file
# of the project that the build compiles, on all cores. Needs a configured
# build folder for its compile_commands.json and generated headers: the first
# argument, "build" by default. Fails on any error; an over-long function is
# reported as a warning and does not fail.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
    echo "check_tidy: no $build/compile_commands.json; configure and build first" >&2
    exit 2
fi

# The program's own folders (the tests and benchmarks are left out to keep the
# run short): not the build folder's generated sources, not the system's
# headers.
root=$(pwd)
ours="^$root/(app|batch|cli|engine|fuzz|optimizers|platform|settings|ui|update|util)/"
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# run-clang-tidy exits non-zero when any file has an error; its output is kept
# to print only the findings, without the command lines and the counts of
# suppressed warnings in system headers.
status=0
run-clang-tidy -p "$build" -j "$(nproc)" -quiet -header-filter="$ours" "$ours" >"$log" 2>&1 ||
    status=$?
grep -Ev '^(clang-tidy(-[0-9]+)? |[0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|[0-9]+ warnings? treated as errors?|Error while processing)' \
    "$log" || true
if [ "$status" -ne 0 ]; then
    echo "check_tidy: clang-tidy found errors" >&2
    exit 1
fi
