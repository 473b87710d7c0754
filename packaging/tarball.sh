#!/bin/sh
# Makes dist/bvex-VERSION-linux-ARCH.tar.gz: the folder bvex-VERSION/ holding the static,
# stripped bvex of the package preset, the manual page bvex.1, README.md and LICENSE.
# Usage: tarball.sh SOURCE_DIR BUILD_DIR VERSION ARCH BVEX
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"
arch=$4
bvex=$5

work=$build/packaging/tarball
folder=bvex-$version
rm -rf "$work"
mkdir -p "$work/$folder"
cp "$bvex" "$build/bvex.1" "$src/README.md" "$src/LICENSE" "$work/$folder/"
chmod 0755 "$work/$folder" "$work/$folder/bvex"
chmod 0644 "$work/$folder/bvex.1" "$work/$folder/README.md" "$work/$folder/LICENSE"

tar -C "$work" -cf - --format=ustar --sort=name --mtime="@$SOURCE_DATE_EPOCH" \
    --owner=0 --group=0 --numeric-owner "$folder" |
    gzip -9 -n >"$dist/$folder-linux-$arch.tar.gz"
