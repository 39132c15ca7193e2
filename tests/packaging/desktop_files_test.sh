#!/usr/bin/env bash
# The desktop entry, the AppStream metainfo, the man pages and the icons are
# valid as the desktop's own tools see them. Argument: the source folder.
set -euo pipefail
data="$1/data"
id=org.example.pimo
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$data/$id.desktop"
appstreamcli validate --no-net --pedantic "$data/$id.metainfo.xml"

grep -qx "Icon=$id" "$data/$id.desktop" || fail "the desktop entry names another icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$data/$id.metainfo.xml" ||
    fail "the metainfo launches another desktop entry"
# Pimo's own three formats must be among the types it opens.
for type in image/jpeg image/png image/gif; do
    grep -q "^MimeType=.*$type;" "$data/$id.desktop" || fail "$type missing from MimeType"
done

for page in "$data"/man/*.1; do
    warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

# Every rendered icon has the size of the folder it is in.
count=0
for png in "$data"/icons/hicolor/*/apps/$id.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    [ "${width}x${height}" = "$size" ] || fail "$png is ${width}x${height}"
    count=$((count + 1))
done
[ "$count" -ge 6 ] || fail "only $count icon sizes"
echo "desktop files valid, $count icon sizes"
