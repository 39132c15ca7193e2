#!/usr/bin/env bash
# Builds Pimo and starts the desktop application with the given image, or with
# the bundled sample when none is given.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target pimo
if [ $# -eq 0 ]; then
    set -- "$root/samples/sample.jpg"
fi
exec "$root/build/app/pimo" "$@"
