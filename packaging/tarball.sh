#!/bin/sh
# Makes dist/bvex-VERSION-PLATFORM.tar.gz (PLATFORM: linux-x86_64, macos-universal, ...):
# the folder bvex-VERSION/ holding BVEX (on Linux the package preset's static, stripped
# bvex), the manual page bvex.1 of BUILD_DIR, README.md and LICENSE; and the Python wheel
# of the same bvex and page (packaging/wheel.py, with python3). Needs GNU tar, named in
# $TAR where tar is another (macOS: TAR=gtar).
# Usage: tarball.sh SOURCE_DIR BUILD_DIR VERSION PLATFORM BVEX
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"
platform=$4
bvex=$5

work=$build/packaging/tarball
folder=bvex-$version
rm -rf "$work"
mkdir -p "$work/$folder" "$dist"
cp "$bvex" "$build/bvex.1" "$src/README.md" "$src/LICENSE" "$work/$folder/"
chmod 0755 "$work/$folder" "$work/$folder/bvex"
chmod 0644 "$work/$folder/bvex.1" "$work/$folder/README.md" "$work/$folder/LICENSE"

"${TAR:-tar}" -C "$work" -cf "$work.tar" --format=ustar --sort=name \
    --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner "$folder"
gzip -9 -n <"$work.tar" >"$dist/$folder-$platform.tar.gz"
python3 "$src/packaging/wheel.py" "$src" "$build" "$version" "$platform" "$bvex" "$homepage"
