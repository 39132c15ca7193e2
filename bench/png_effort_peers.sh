#!/usr/bin/env bash
# PNG compression types 2 and 4 beside optipng -o2 and zopflipng on the same
# files in one run: the three small images and the two 9-megapixel graphics
# (a large screenshot and a chart), all made in code by png_effort_bench, so
# every run sees the same pixels. Prints one line per image with the bytes
# and milliseconds of all four and the ratios against the peers.
#
# Usage: bench/png_effort_peers.sh BUILD_DIR [KEEP_DIR] [IMAGE_REGEX]
#   KEEP_DIR     keeps the plain level-9 inputs and the tools' outputs there
#   IMAGE_REGEX  which images, e.g. 'graphic9|chart9' (default: all)
# The large images take several minutes, most of it zopflipng's.
set -euo pipefail
build=$1
keep=${2:-}
images=${3:-.*}
bench=$build/bench/png_effort_bench
for tool in optipng zopflipng; do
    command -v "$tool" > /dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
read -r -d '' table << 'PY' || true
import json, sys
report = json.load(sys.stdin)
columns = [("type2", "t2_bytes"), ("o2", "o2_bytes"), ("t2/o2", "t2_vs_o2_bytes"),
           ("ms t2", "t2_ms"), ("ms o2", "o2_ms"), ("type4", "t4_bytes"),
           ("zopfli", "zopfli_bytes"), ("t4/zop", "t4_vs_zopfli_bytes"),
           ("ms t4", "t4_ms"), ("ms zop", "zopfli_ms")]
print("image".ljust(12) + "".join(title.rjust(10) for title, _ in columns))
for run in report["benchmarks"]:
    name = run["name"].split("/")[1]
    if run.get("error_occurred"):
        print(name.ljust(12) + run.get("error_message", "failed"))
        continue
    cells = []
    for _, key in columns:
        value = run[key]
        cells.append(("%.3f" % value if "_vs_" in key else "%.0f" % value).rjust(10))
    print(name.ljust(12) + "".join(cells))
PY
PNG_EFFORT_BENCH_KEEP=$keep "$bench" --benchmark_filter="^Peers/($images)/" \
    --benchmark_format=json 2> /dev/null | python3 -c "$table"
