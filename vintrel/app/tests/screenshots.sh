#!/bin/sh
# SPDX-License-Identifier: MIT
# Takes the pictures in docs/ as a newcomer's machine shows vintrel: only the fonts of the
# packages scripts/install-deps installs (a private Fontconfig configuration), a private
# Xvfb at 96 dpi without a window manager, and a private krvxd with the simulated device.
# Usage: vintrel/app/tests/screenshots.sh BUILD_DIR [OUTPUT_DIR, docs/ by default]
set -eu
top=$(cd "$(dirname "$0")/../../.." && pwd)
build=$1
out=${2:-$top/docs}
fonts=$(mktemp -d)
trap 'rm -rf "$fonts"' EXIT
# shellcheck disable=SC2046
FONTCONFIG_FILE=$("$top/scripts/only-fonts" "$fonts" \
    $(grep -o 'fonts-[a-z0-9-]*' "$top/scripts/install-deps" | sort -u))
export FONTCONFIG_FILE
echo "screenshots: fonts offered: $(fc-list : family | sort -u | tr '\n' ';')"
QT_QPA_PLATFORM=xcb "$top/vintrel/app/tests/with_xvfb.sh" \
    "$build/vintrel/app/tests/vintrel_screenshots" "$out"
