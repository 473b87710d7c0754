#!/bin/sh
# Makes the release files of another Linux machine, cross-built with Debian's g++-TRIPLE
# (see cmake/linux-TARGET.cmake): dist/bvex-VERSION-linux-ARCH.tar.gz with a static bvex,
# and for arm64 and armhf dist/bvex_VERSION_DEBARCH.deb (Debian 12 has no riscv64 port to
# build a package against).
# Usage: cross.sh SOURCE_DIR BUILD_DIR VERSION TARGET (arm64, armhf or riscv64)
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"
target=$4
case $target in
    arm64) arch=aarch64 ;;
    armhf) arch=armv7 ;;
    riscv64) arch=riscv64 ;;
    *)
        echo "cross.sh: no release files for $target" >&2
        exit 1
        ;;
esac

work=$build/packaging/cross-$target
rm -rf "$work"
# The static, stripped and hardened bvex of the package preset, built for the target by
# the preset package-TARGET.
(cd "$src" && cmake --preset "package-$target" -B "$work" >/dev/null)
cmake --build "$work" -j 2
sh "$src/packaging/tarball.sh" "$src" "$build" "$version" "linux-$arch" "$work/bvex"
if [ "$target" != riscv64 ]; then
    sh "$src/packaging/deb.sh" "$src" "$build" "$version" "$target"
fi
