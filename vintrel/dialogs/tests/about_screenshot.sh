#!/bin/sh
# Takes docs/about-dialog.png: shows the About dialog under Xvfb at 96 dpi and crops the
# screen to its window. Usage: about_screenshot.sh BUILD_DIR OUTPUT.png
# Needs xvfb-run, xwininfo and ImageMagick's import (scripts/install-deps installs them).
set -eu
build=$1
out=$2
if [ -z "${ABOUT_SCREENSHOT_INNER:-}" ]; then
    ABOUT_SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 640x400x24 -dpi 96" "$0" "$@"
fi
QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "$build/vintrel/dialogs/tests/vintrel_about_preview" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
tries=0
until xwininfo -name "About Vintrel" >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ $tries -lt 150 ] || { echo "about_screenshot: the dialog did not show" >&2; exit 1; }
    sleep 0.2
done
sleep 1  # let it paint
info=$(xwininfo -name "About Vintrel")
x=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
w=$(echo "$info" | awk '/Width:/ {print $2}')
h=$(echo "$info" | awk '/Height:/ {print $2}')
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
