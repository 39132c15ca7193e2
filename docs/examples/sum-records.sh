#!/bin/sh
# Sums the JSON records of any number of pimo-cli --json runs (files given,
# or standard input) into one summary of the same shape as a single run's
# last line. Records of files are counted; the runs' own summaries are not.
#
#   cat records/*.jsonl | sum-records.sh
set -eu
jq -s -c '
  [.[] | select(has("file"))] as $records
  | ($records | map(select(.skipped | not))) as $processed
  | ($processed | map(select(.failed | not))) as $done
  | ($done | map([.bytes_before, 0] | max) | add // 0) as $before
  | ($done | map(.bytes_after) | add // 0) as $after
  | {summary: {
      files: ($processed | length),
      failed: ($processed | map(select(.failed)) | length),
      skipped: ($records | map(select(.skipped)) | length),
      bytes_before: $before,
      bytes_after: $after,
      saved_percent: (if $before > 0 then (($before - $after) * 10000 / $before | round) / 100
                      else 0 end)}}' "$@"
