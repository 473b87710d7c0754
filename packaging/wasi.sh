#!/bin/sh
# Makes dist/bvex-VERSION-wasi.wasm, bvex as a WASI preview-1 command, and
# dist/bvex-VERSION-web.html, the single-file web page that runs it, both built by the preset
# package-wasi (cmake/wasi.cmake: clang with wasi-libc; the page with Node).
# Usage: wasi.sh SOURCE_DIR BUILD_DIR VERSION
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"

work=$build/packaging/wasi
rm -rf "$work"
(cd "$src" && cmake --preset package-wasi -B "$work" >/dev/null)
cmake --build "$work" -j 2
cp "$work/bvex.wasm" "$dist/bvex-$version-wasi.wasm"
cp "$work/bvex-$version-web.html" "$dist/bvex-$version-web.html"
chmod 0644 "$dist/bvex-$version-wasi.wasm" "$dist/bvex-$version-web.html"
