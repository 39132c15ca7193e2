#!/usr/bin/env bash
# Whole-process JPEG re-encode: pimo-cli reading a photo-like JPEG and writing
# it again at quality 75, 4:2:0, optimised Huffman tables, beside
# libjpeg-turbo's cjpeg doing the same encode. Wall time and peak resident
# memory, medians of several runs, at 1, 4, 16 and 36 megapixels.
#
# Two references, since cjpeg alone reads an uncompressed PPM and so skips
# the decode that pimo-cli does:
#   cjpeg        cjpeg over a PPM of the decoded pixels (the encode alone)
#   djpeg|cjpeg  djpeg piped into cjpeg (the same work as ours: decode, encode)
# Peak memory is /usr/bin/time's %M: the largest resident set of any one
# process of the command (pimo-cli, its decoder process; djpeg or cjpeg of the
# pipe), not their sum.
#
# Usage: bench/jpeg_whole_process_bench.sh [PATH-TO-pimo-cli]
# (default: build/cli/pimo-cli). Needs ImageMagick's convert, cjpeg and djpeg.
# PIMO_BENCH_REPEATS (default 5) sets the runs per figure, PIMO_BENCH_SIZES
# (default "1 4 16 36") the sizes in megapixels; size 0 is a 16x16 picture,
# which measures the programs' start-up and end (and their base memory).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cli=${1:-$root/build/cli/pimo-cli}
[[ -x $cli ]] || { echo "pimo-cli not found at $cli" >&2; exit 2; }
for tool in convert cjpeg djpeg; do
    command -v "$tool" > /dev/null || { echo "$tool is needed" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repeats=${PIMO_BENCH_REPEATS:-5}
sizes=${PIMO_BENCH_SIZES:-"1 4 16 36"}

# A photograph-like picture of about `mp` megapixels at 3:2: a smooth plasma
# scaled up, with fine noise on it so that the encoder has detail to code.
make_photo() {  # mp out.jpg
    local width height
    width=$(awk -v mp="$1" 'BEGIN { printf "%d", int(sqrt(mp * 1e6 * 3 / 2) / 16) * 16 }')
    height=$((width * 2 / 3))
    if ((width == 0)); then width=16 height=16; fi
    convert -size 600x400 -seed 7 plasma:fractal -blur 0x2 -resize "${width}x${height}!" \
        -attenuate 0.4 +noise Gaussian -sampling-factor 2x2 -quality 92 "$2"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a command once; appends "milliseconds kilobytes" to the file `record`. The
# wall time is taken around /usr/bin/time, whose own %e has only hundredths
# of a second; its %M gives the peak memory.
measure() {  # record command...
    local record=$1 start end
    shift
    rm -rf "$work/out" "$work/cjpeg.jpg" "$work/pipe.jpg"
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time" "$@" > /dev/null 2> "$work/stderr" || {
        echo "failed: $*" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    end=$(date +%s%N)
    echo "$(((end - start) / 1000000)) $(tail -n 1 "$work/time")" >> "$record"
}

printf "%-5s %-11s | %8s %8s %8s | %8s %8s %8s | %6s %6s | %6s %6s\n" \
    "MP" "pixels" "pimo s" "cjpeg s" "d|c s" "pimo MiB" "cjpeg" "d|c" \
    "t/cj" "t/d|c" "m/cj" "m/d|c"
for mp in $sizes; do
    photo=$work/photo$mp.jpg
    make_photo "$mp" "$photo"
    djpeg "$photo" > "$work/photo$mp.ppm"
    pixels=$(head -c 64 "$work/photo$mp.ppm" | awk 'NR == 2 { print $1 "x" $2; exit }')
    cjpeg_cmd=(cjpeg -quality 75 -optimize -sample 2x2 -outfile "$work/cjpeg.jpg"
               "$work/photo$mp.ppm")
    pipe_cmd=(sh -c "djpeg '$photo' | cjpeg -quality 75 -optimize -sample 2x2 > '$work/pipe.jpg'")
    pimo_cmd=(env XDG_DATA_HOME="$work/xdg" "$cli" --mode manual --format jpeg --quality 75
              --subsampling 420 "$photo" -o "$work/out")
    measure "$work/warm" "${pimo_cmd[@]}"  # warm the caches
    : > "$work/pimo"; : > "$work/cjpeg"; : > "$work/pipe"
    # The commands' runs interleaved, so that a busy moment of the machine
    # does not decide one figure alone.
    for _ in $(seq "$repeats"); do
        measure "$work/pimo" "${pimo_cmd[@]}"
        measure "$work/cjpeg" "${cjpeg_cmd[@]}"
        measure "$work/pipe" "${pipe_cmd[@]}"
    done
    [[ -n ${PIMO_BENCH_RAW:-} ]] && paste "$work/pimo" "$work/cjpeg" "$work/pipe" >&2
    pt=$(cut -d' ' -f1 < "$work/pimo" | median); pm=$(cut -d' ' -f2 < "$work/pimo" | median)
    ct=$(cut -d' ' -f1 < "$work/cjpeg" | median); cm=$(cut -d' ' -f2 < "$work/cjpeg" | median)
    dt=$(cut -d' ' -f1 < "$work/pipe" | median); dm=$(cut -d' ' -f2 < "$work/pipe" | median)
    awk -v mp="$mp" -v px="$pixels" -v pt="$pt" -v ct="$ct" -v dt="$dt" \
        -v pm="$pm" -v cm="$cm" -v dm="$dm" 'BEGIN {
        printf "%-5s %-11s | %8.3f %8.3f %8.3f | %8.1f %8.1f %8.1f | %6.2f %6.2f | %6.2f %6.2f\n",
            mp, px, pt / 1000, ct / 1000, dt / 1000, pm / 1024, cm / 1024, dm / 1024,
            pt / ct, pt / dt, pm / cm, pm / dm }'
done
echo "medians of $repeats runs; t/ and m/ are pimo-cli's time and peak memory over the reference's"
