#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a command on a private X display: an Xvfb of its own (the server picks a free display
# number, so runs side by side never collide), 1024x768, 24 bits, 96 dpi, no TCP. DISPLAY
# names it for the command; the server ends with the command, whose status this returns.
# Usage: with_xvfb.sh COMMAND [ARGUMENT...]
set -eu
dir=$(mktemp -d)
server=
trap 'if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi; rm -rf "$dir"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
tries=0
until [ -s "$dir/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 300 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "with_xvfb: Xvfb did not start:" >&2
        cat "$dir/log" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY
status=0
"$@" || status=$?
exit $status
