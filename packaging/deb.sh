#!/bin/sh
# Makes dist/bvex_VERSION_ARCH.deb with Debian's own tools: dpkg-buildpackage builds the
# sources copied next to packaging/debian, whose changelog is written here so that the
# version stays in CMakeLists.txt alone. ARCH is this machine's Debian architecture, or the
# one given, which is cross-built (its cross compiler and C library must be installed:
# for arm64, g++-aarch64-linux-gnu and libc6:arm64).
# Usage: deb.sh SOURCE_DIR BUILD_DIR VERSION [ARCH]
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"

build_arch=$(dpkg-architecture -qDEB_BUILD_ARCH)
arch=${4:-$build_arch}
work=$build/packaging/deb-$arch
tree=$work/bvex-$version
rm -rf "$work"
mkdir -p "$tree"
# What the build reads: the tests, fuzz targets and benchmark stay out of the package.
for path in CMakeLists.txt cmake src doc README.md LICENSE; do
    if [ -e "$src/$path" ]; then cp -R "$src/$path" "$tree/"; fi
done
cp -R "$src/packaging/debian" "$tree/debian"

maintainer=$(sed -n 's/^Maintainer: //p' "$tree/debian/control")
cat >"$tree/debian/changelog" <<END
bvex ($version) unstable; urgency=medium

  * Release $version.

 -- $maintainer  $(date -R -d "@$SOURCE_DATE_EPOCH")
END

if [ "$arch" = "$build_arch" ]; then
    (cd "$tree" && dpkg-buildpackage --build=binary --no-sign)
else
    # Cross-built with Debian's cross compilers for the target, named in CC and CXX: dh's
    # cmake build takes them from there, and dpkg-architecture checks CC against the target
    # (and warns while it is the build machine's gcc, so the query of the triple below
    # keeps quiet). No tests are run, as dh wants for a cross build (it warns otherwise):
    # the package builds none.
    triple=$(dpkg-architecture --host-arch="$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    (cd "$tree" && CC=$triple-gcc CXX=$triple-g++ DEB_BUILD_OPTIONS=nocheck \
        dpkg-buildpackage --build=binary --no-sign --host-arch="$arch")
fi
cp "$work/bvex_${version}_$arch.deb" "$dist/"
