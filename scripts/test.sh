#!/usr/bin/env bash
# Builds Pimo and runs every test: the formatting check, the full build with
# warnings as errors and its tests, clang-tidy over that build, then the engine
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/check_format.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIMO_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
scripts/check_tidy.sh build

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPIMO_SANITIZE=ON \
    -DPIMO_BUILD_UI=OFF -DPIMO_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"

# Fuzzing: every parser of outside data, built with clang, ASan and UBSan, for
# a bounded time each (PIMO_FUZZ_SECONDS, 15 s by default: about two minutes
# in all on two cores, plus the build).
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIMO_BUILD_FUZZ=ON \
    -DPIMO_BUILD_UI=OFF -DPIMO_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target pimo_fuzzers
scripts/run_fuzzers.sh build-fuzz "${PIMO_FUZZ_SECONDS:-15}"
