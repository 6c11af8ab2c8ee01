#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a build tree into a fresh prefix and checks that the installed tree works from
# there, as a user of `cmake --install build --prefix DIR` would find it:
#   - the install writes nothing outside the prefix (every file the install process opens
#     for writing, creates, links or renames, traced; and listings of /usr/local, /etc and
#     /lib before and after show none of the installed names);
#   - krvx, krvxd and vintrel run with an empty LD_LIBRARY_PATH (their run path finds the
#     prefix's library, and vintrel loads that one);
#   - vintrel, under Xvfb against the prefix's krvxd, shows its window and, asked for
#     Help > About > System Info, reads the prefix's etc/vintrel/registry.ini;
#   - the systemd user unit (systemd-analyze verify, where available), the desktop entry
#     and the AppStream metainfo validate; the unit starts the prefix's krvxd.
# Needs strace, xvfb-run, xdotool, desktop-file-validate and appstreamcli.
# Usage: packaging/check-install.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
tmp=$(mktemp -d /tmp/vintrel-prefix.XXXXXX)
prefix=$tmp/prefix
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

listing() {
    find /usr/local /etc /lib/ -xdev -printf '%p %y %s %T@\n' 2>/dev/null | sort
}

# ---- Install, traced -------------------------------------------------------------------
listing >"$tmp/before"
strace -f -qq -o "$tmp/install.strace" \
    -e trace=open,openat,creat,mkdir,mkdirat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,unlink,unlinkat,chmod,fchmodat,truncate,utimensat \
    cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"
listing >"$tmp/after"

# Paths the install wrote: opens for writing and every creating or changing call that
# succeeded. Allowed: the prefix, and the build tree (install_manifest.txt, files
# configured at install time).
awk '
    / = -1 / { next }
    /open(at)?\(/ && !/O_WRONLY|O_RDWR|O_CREAT/ { next }
    /(open|openat|creat|mkdir|mkdirat|rename|renameat|renameat2|link|linkat|symlink|symlinkat|unlink|unlinkat|chmod|fchmodat|truncate|utimensat)\(/ {
        n = split($0, q, "\"")
        for (i = 2; i <= n; i += 2) print q[i]
    }' "$tmp/install.strace" | sort -u >"$tmp/written"
outside=$(grep -v -e "^$prefix/" -e "^$prefix\$" -e "^$build/" -e '^/dev/null$' "$tmp/written" |
    grep '^/' || true)
[ -z "$outside" ] || fail "the install wrote outside the prefix:"$'\n'"$outside"
[ -s "$tmp/written" ] || fail "the trace shows no file written at all"
# What changed meanwhile in the listings; on a shared machine other programs may change
# /etc, so only our own names count.
names=$(find "$prefix" -type f -printf '%f\n' | sort -u)
changed=$(comm -13 "$tmp/before" "$tmp/after" | awk '{print $1}' | xargs -r -n1 basename | sort -u)
ours=$(comm -12 <(echo "$names") <(echo "$changed") || true)
[ -z "$ours" ] || fail "installed names appeared in /usr/local, /etc or /lib: $ours"
echo "install: $(find "$prefix" -type f | wc -l) files, all under the prefix"

# ---- The programs from the prefix, with an empty LD_LIBRARY_PATH -----------------------
export LD_LIBRARY_PATH=
for p in krvx krvxd vintrel; do
    "$prefix/bin/$p" --version | grep -qx "$p [0-9][0-9.]*" || fail "$p --version"
done
echo "krvx, krvxd and vintrel --version: $("$prefix/bin/krvx" --version)"

export KRVX_SOCKET=$tmp/krvxd.sock
"$prefix/bin/krvxd" --socket "$KRVX_SOCKET" --time-scale 0 2>"$tmp/krvxd.log" &
pids+=($!)
for _ in $(seq 100); do [ -S "$KRVX_SOCKET" ] && break; sleep 0.1; done
"$prefix/bin/krvx" info >/dev/null || fail "krvx info against the prefix's krvxd"

# vintrel under Xvfb: its main window, then Help > About > System Info, which reads the
# registry; the trace shows which files it opened.
xvfb-run -a sh -eu -c '
    prefix=$1 tmp=$2
    strace -f -qq -e trace=openat -o "$tmp/vintrel.strace" "$prefix/bin/vintrel" &
    main=$(timeout 60 xdotool search --sync --onlyvisible --name "^Korvex Vintrel Utility\$" | head -n 1)
    [ -n "$main" ] || { echo "FAIL: vintrel showed no window" >&2; exit 1; }
    echo "vintrel: main window shown"
    xdotool windowfocus --sync "$main" key alt+h
    sleep 0.5
    xdotool key a
    about=$(timeout 30 xdotool search --sync --onlyvisible --name "^About Vintrel\$" | head -n 1)
    [ -n "$about" ] || { echo "FAIL: no About window" >&2; exit 1; }
    xdotool windowfocus --sync "$about" key alt+s
    for _ in $(seq 100); do grep -q "registry.ini" "$tmp/vintrel.strace" && break; sleep 0.1; done
    kill "$(xdotool getwindowpid "$main")"
    wait
' sh "$prefix" "$tmp" || fail "vintrel from the prefix"
grep -q "\"$prefix/etc/vintrel/registry.ini\", O_RDONLY.* = [0-9]" "$tmp/vintrel.strace" ||
    fail "vintrel did not read $prefix/etc/vintrel/registry.ini"
lib=$(grep -o '"[^"]*libkrvxdrv.so.1", O_RDONLY[^=]*= [0-9]*' "$tmp/vintrel.strace" | head -n 1)
[[ $lib == \"$prefix/* ]] || fail "vintrel loaded the driver library from elsewhere: $lib"
echo "vintrel: loaded $prefix/.../libkrvxdrv.so.1 and read $prefix/etc/vintrel/registry.ini"

# ---- Unit, desktop entry, metainfo -----------------------------------------------------
unit=$prefix/lib/systemd/user/krvxd.service
grep -qx "ExecStart=$prefix/bin/krvxd .*" "$unit" || fail "the unit does not start $prefix/bin/krvxd"
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$tmp/runtime"
    MANPATH=$prefix/share/man: XDG_RUNTIME_DIR=$tmp/runtime systemd-analyze --user verify "$unit" ||
        fail "systemd-analyze verify $unit"
    echo "unit: verified"
else
    echo "unit: systemd-analyze is not installed, not verified"
fi
desktop-file-validate "$prefix/share/applications/vintrel.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml || fail "metainfo"
bash -n "$prefix/share/bash-completion/completions/krvx" || fail "bash completion"
for page in "$prefix"/share/man/man*/*.gz; do
    [ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null | head -n 3)" ] || fail "man page $page"
done
echo "the installed tree works from $prefix"
