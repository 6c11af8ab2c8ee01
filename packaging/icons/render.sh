#!/bin/sh
# SPDX-License-Identifier: MIT
# Renders the hicolor PNG icons from vintrel.svg (needs rsvg-convert, Debian package
# librsvg2-bin). The PNGs are kept in the repository, so a build needs neither; run this
# after changing the SVG and commit the result.
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" vintrel.svg -o "hicolor/${size}x${size}/apps/vintrel.png"
done
