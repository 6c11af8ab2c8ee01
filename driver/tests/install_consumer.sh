#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and builds a small C program against the installed
# krvxdrv.h and krvxdrv.pc only, then runs it: the packaging is proven, not hoped for.
# Usage: install_consumer.sh BUILD_DIR C_COMPILER PROJECT_VERSION
set -eu
build=$1
cc=$2
version=$3
prefix=$(mktemp -d /tmp/krvxdrv-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
# Only the library's own files: the rest of the tree need not be installable for this.
cmake --install "$build" --prefix "$prefix" --component library >/dev/null
cmake --install "$build" --prefix "$prefix" --component development >/dev/null
pc=$(find "$prefix" -name krvxdrv.pc | head -n 1)
[ -n "$pc" ] || { echo "krvxdrv.pc was not installed"; exit 1; }
export PKG_CONFIG_PATH=$(dirname "$pc")
cat >"$prefix/consumer.c" <<'C'
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <krvxdrv.h>
int main(void) {
    uint32_t info = 0, version = 0;
    char out[KRVX_LEARN_BUFFER_SIZE];
    if (!KRVXGetDrvInfo(&info) || info != 256) return 1;
    if (!KRVXGetDrvVersion(&version) || version < 2680) return 2;
    if (!KRVXConvertProntoCode("0000 006c 0000 0001 0010 0010", out, NULL, 0, 0)) return 3;
    setenv("KRVX_SOCKET", "/nonexistent/krvxd.sock", 1);
    if (KRVXOpen() != -1 || errno != ERR_DRIVER_NOT_FOUND) return 4;
    printf("%s\n", out);
    return 0;
}
C
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Werror -o "$prefix/consumer" "$prefix/consumer.c" \
    $(pkg-config --cflags --libs krvxdrv)
libdir=$(pkg-config --variable=libdir krvxdrv)
[ -e "$libdir/libkrvxdrv.so.1" ] || { echo "libkrvxdrv.so.1 missing"; exit 1; }
# One version: the library's file is .so.1.<minor>.<patch> of the project's, and so is the .pc.
minor_patch=${version#*.}
[ -f "$libdir/libkrvxdrv.so.1.$minor_patch" ] || { echo "libkrvxdrv.so.1.$minor_patch missing:"; ls "$libdir"; exit 1; }
[ "$(pkg-config --modversion krvxdrv)" = "$version" ] || { echo "krvxdrv.pc says $(pkg-config --modversion krvxdrv), not $version"; exit 1; }
out=$(LD_LIBRARY_PATH="$libdir" "$prefix/consumer")
[ "$out" = "0000 006C 0000 0001 0010 0010" ] || { echo "unexpected output: $out"; exit 1; }
# Only the C API is exported.
others=$(nm -D --defined-only "$libdir/libkrvxdrv.so.1" | awk '$2 ~ /[TDBRW]/ {print $3}' | grep -v '^KRVX' || true)
[ -z "$others" ] || { echo "exported beyond the C API:"; echo "$others"; exit 1; }
echo "installed library, header and pkg-config file work"
