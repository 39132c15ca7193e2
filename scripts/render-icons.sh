#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (rsvg-convert from
# librsvg2-bin). The PNGs are committed, so a build does not need this; run
# it again after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256 512; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" org.example.pimo.svg \
        -o "hicolor/${size}x${size}/apps/org.example.pimo.png"
done
