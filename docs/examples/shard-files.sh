#!/bin/sh
# Splits a list of image paths (one per line, on standard input) into COUNT
# shard files PREFIX0 .. PREFIX<COUNT-1>, every one created even when empty.
# Files whose names differ only in folder or extension (a/photo.png,
# b/photo.jpg) go to the same shard: their outputs can share a name, and
# pimo-cli settles such a meeting only within one run.
#
#   find photos -type f | shard-files.sh 16 shards/part-
set -eu
count=$1
prefix=$2
i=0
while [ "$i" -lt "$count" ]; do
    : > "$prefix$i"
    i=$((i + 1))
done
# The shard is a hash of the lower-case name stem; byte-wise in the C locale
# so that every machine computes the same one.
LC_ALL=C awk -v count="$count" -v prefix="$prefix" '
BEGIN { for (i = 1; i < 256; i++) code[sprintf("%c", i)] = i }
{
    stem = $0
    sub(/.*\//, "", stem)
    sub(/\.[^.]*$/, "", stem)
    stem = tolower(stem)
    hash = 0
    for (i = 1; i <= length(stem); i++) hash = (hash * 31 + code[substr(stem, i, 1)]) % 1000003
    print >> (prefix (hash % count))
}'
