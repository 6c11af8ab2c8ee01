#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages of a build tree with cpack, runs lintian on them (no errors
# allowed), installs them with dpkg into a scratch root and runs krvx --version there.
#
# The scratch root is this machine's own file system under a private overlay (a mount
# namespace of its own, upper layer in a temporary folder): dpkg checks the packages'
# dependencies against what is really installed, and nothing reaches the real root.
# Needs root (mount namespace, overlayfs), lintian and dpkg-dev.
# Usage: packaging/check-debs.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d /tmp/vintrel-debs.XXXXXX)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log") ||
    { cat "$work/cpack.log"; exit 1; }
debs=("$work"/debs/*.deb)
echo "packages: ${debs[*]##*/}"
for deb in "${debs[@]}"; do
    dpkg-deb -f "$deb" Package Version Depends Recommends | sed 's/^/  /'
done

# No errors allowed; warnings are shown. (lintian also warns that it runs as root.)
status=0
lintian --fail-on error "${debs[@]}" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$status" = 0 ] || { echo "lintian: errors (status $status)"; exit 1; }
echo "lintian: no errors"

# Install into the overlay and run the installed programs there.
mkdir -p "$work/upper" "$work/overlay" "$work/root"
cp "${debs[@]}" "$work/upper/" 2>/dev/null || true
unshare --mount --propagation private -- sh -eu -c '
    work=$1
    mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay" "$work/root"
    mount -t proc proc "$work/root/proc"
    mount --rbind /dev "$work/root/dev"
    chroot "$work/root" sh -eu -c "
        dpkg -i /*.deb >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; exit 1; }
        dpkg -s vintrel krvxd libkrvxdrv1 libkrvxdrv-dev | grep -E \"^(Package|Status):\"
        env -u LD_LIBRARY_PATH krvx --version
        env -u LD_LIBRARY_PATH krvxd --version
        env -u LD_LIBRARY_PATH vintrel --version
        test -f /etc/vintrel/registry.ini
        pkg-config --modversion krvxdrv
    "
' sh "$work"
echo "installed into a scratch root and ran there"
