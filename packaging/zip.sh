#!/bin/sh
# Makes dist/bvex-VERSION-windows-x86_64.zip: bvex.exe cross-built with MinGW-w64
# (cmake/mingw-w64-x86_64.cmake), README.md, LICENSE and the manual page rendered as
# plain text, bvex.txt, for people without man; and the Python wheel of the same bvex.exe
# (packaging/wheel.py).
# Usage: zip.sh SOURCE_DIR BUILD_DIR VERSION
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"

work=$build/packaging/zip
rm -rf "$work"
mkdir -p "$work/files"

# The stripped and hardened bvex.exe of the package preset, built by the preset
# package-windows.
(cd "$src" && cmake --preset package-windows -B "$work/build" >/dev/null)
cmake --build "$work/build" -j 2
cp "$work/build/bvex.exe" "$src/README.md" "$src/LICENSE" "$work/files/"
groff -man -Tascii -P-cbou "$build/bvex.1" >"$work/files/bvex.txt"

# zip stores local times: in UTC they are the commit's, and -X leaves out owners and
# extra time stamps.
out=$dist/bvex-$version-windows-x86_64.zip
rm -f "$out"
cd "$work/files" || exit 1
chmod 0644 LICENSE README.md bvex.exe bvex.txt
touch -d "@$SOURCE_DATE_EPOCH" LICENSE README.md bvex.exe bvex.txt
zip -q -X -D -9 "$out" LICENSE README.md bvex.exe bvex.txt
python3 "$src/packaging/wheel.py" "$src" "$build" "$version" windows-x86_64 \
    "$work/files/bvex.exe" "$homepage"
