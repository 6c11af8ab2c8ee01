#!/bin/sh
# Takes docs/main-window.png: vintrel idle against a private krvxd with the simulated
# device, under Xvfb at 96 dpi, the screen cropped to the main window.
# Usage: main_window_screenshot.sh BUILD_DIR OUTPUT.png
# Needs xvfb-run, xwininfo and ImageMagick's import (scripts/install-deps installs them).
set -eu
build=$1
out=$2
if [ -z "${MAIN_SCREENSHOT_INNER:-}" ]; then
    MAIN_SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$0" "$@"
fi
dir=$(mktemp -d)
"$build/service/krvxd" --socket "$dir/krvxd.sock" --backend sim --time-scale 0 &
service=$!
vintrel=
trap 'kill $vintrel $service 2>/dev/null || true; rm -rf "$dir"' EXIT
tries=0
until [ -S "$dir/krvxd.sock" ]; do
    tries=$((tries + 1))
    [ $tries -lt 150 ] || { echo "main_window_screenshot: krvxd did not start" >&2; exit 1; }
    sleep 0.2
done
KRVX_SOCKET="$dir/krvxd.sock" KRVXDRV_LIBRARY="$build/driver/libkrvxdrv.so.1" \
    QT_QPA_PLATFORM=xcb QT_FONT_DPI=96 "$build/vintrel/vintrel" &
vintrel=$!
tries=0
until xwininfo -name "Korvex Vintrel Utility" >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ $tries -lt 150 ] || { echo "main_window_screenshot: the window did not show" >&2; exit 1; }
    sleep 0.2
done
sleep 1  # let it paint and the first timer tick pass
info=$(xwininfo -name "Korvex Vintrel Utility")
x=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
w=$(echo "$info" | awk '/Width:/ {print $2}')
h=$(echo "$info" | awk '/Height:/ {print $2}')
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
