#!/bin/sh
# Makes the npm packages, packed by npm pack into dist/:
# - bvex-VERSION-npm.tgz, the package bvex: the command bvex (packaging/npm/bvex.js), which
#   runs the native bvex of the package below for this machine, or bvex.wasm under Node's
#   WASI where none fits, with bvex.wasm, the manual page, README.md and LICENSE;
# - bvex-VERSION-npm-PLATFORM.tgz, the package @bvex/PLATFORM, for each PLATFORM: linux-x64,
#   linux-arm64, linux-arm, linux-riscv64 and win32-x64, each holding the bvex of the
#   matching tarball or zip in dist/ (made before this runs), README.md and LICENSE. The
#   package bvex names them all, and darwin-universal, as optional dependencies of its own
#   version: npm installs the one whose os and cpu fit the machine.
# Given PLATFORM and BVEX, it makes that one platform package of that binary instead (the
# release workflow makes darwin-universal from the Mac's tarball so).
# npm pack dates every member 1985-10-26 and orders them itself; the modes are set here.
# Usage: npm.sh SOURCE_DIR BUILD_DIR VERSION [PLATFORM BVEX]
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"

work=$build/packaging/npm
rm -rf "$work"
mkdir -p "$work/out" "$dist"
summary="show where a patched file differs from its original, in hex"

# pack FOLDER NAME: packs the package in FOLDER into dist/NAME, with npm's settings of its
# own (no user configuration, a cache in the work folder) and no lifecycle scripts.
pack() {
    (cd "$1" && npm pack --ignore-scripts --silent --userconfig=/dev/null \
        --cache="$work/cache" --pack-destination="$work/out" >"$work/packed")
    mv "$work/out/$(cat "$work/packed")" "$dist/$2"
}

# platform PLATFORM BVEX: the package @bvex/PLATFORM of the binary BVEX.
platform() {
    name=$1
    case $name in
        linux-x64) os=linux cpu='"x64"' machine='Linux on x86-64' ;;
        linux-arm64) os=linux cpu='"arm64"' machine='Linux on 64-bit ARM' ;;
        linux-arm) os=linux cpu='"arm"' machine='Linux on ARMv7 and later 32-bit ARM' ;;
        linux-riscv64) os=linux cpu='"riscv64"' machine='Linux on 64-bit RISC-V' ;;
        # Windows on ARM runs the x86-64 bvex.exe; the Mac's bvex holds both architectures.
        win32-x64) os=win32 cpu='"x64", "arm64"' machine='Windows on x86-64 and ARM' ;;
        darwin-universal) os=darwin cpu='"x64", "arm64"' machine='macOS 11 and later' ;;
        *)
            echo "npm.sh: no npm package for $name" >&2
            exit 1
            ;;
    esac
    file=bvex
    [ "$os" = win32 ] && file=bvex.exe
    folder=$work/$name
    mkdir -p "$folder"
    cp "$2" "$folder/$file"
    cp "$src/LICENSE" "$folder/"
    cat >"$folder/README.md" <<END
# @bvex/$name

bvex $version for $machine: the native binary that the npm package
[bvex]($homepage) runs there. Install \`bvex\`, not this package.
END
    cat >"$folder/package.json" <<END
{
  "name": "@bvex/$name",
  "version": "$version",
  "description": "bvex for $machine, run by the package bvex",
  "license": "MIT",
  "homepage": "$homepage",
  "repository": {"type": "git", "url": "git+$homepage.git"},
  "os": ["$os"],
  "cpu": [$cpu],
  "files": ["$file"]
}
END
    chmod 0755 "$folder/$file"
    chmod 0644 "$folder/LICENSE" "$folder/README.md" "$folder/package.json"
    pack "$folder" "bvex-$version-npm-$name.tgz"
}

if [ $# -ge 5 ]; then
    platform "$4" "$5"
    exit 0
fi

# Each native package's bvex, from the release file that carries it.
unpacked=$work/unpacked
mkdir -p "$unpacked"
for pair in linux-x64:x86_64 linux-arm64:aarch64 linux-arm:armv7 linux-riscv64:riscv64; do
    mkdir "$unpacked/${pair%%:*}"
    tar -xzf "$dist/bvex-$version-linux-${pair#*:}.tar.gz" -C "$unpacked/${pair%%:*}" \
        "bvex-$version/bvex"
    platform "${pair%%:*}" "$unpacked/${pair%%:*}/bvex-$version/bvex"
done
unzip -q "$dist/bvex-$version-windows-x86_64.zip" bvex.exe -d "$unpacked/win32-x64"
platform win32-x64 "$unpacked/win32-x64/bvex.exe"

folder=$work/bvex
mkdir -p "$folder/bin"
cp "$src/packaging/npm/bvex.js" "$folder/bin/bvex.js"
cp "$dist/bvex-$version-wasi.wasm" "$folder/bvex.wasm"
cp "$build/bvex.1" "$src/README.md" "$src/LICENSE" "$folder/"
optional=
for name in linux-x64 linux-arm64 linux-arm linux-riscv64 win32-x64 darwin-universal; do
    optional="$optional${optional:+,
}    \"@bvex/$name\": \"$version\""
done
cat >"$folder/package.json" <<END
{
  "name": "bvex",
  "version": "$version",
  "description": "$summary",
  "keywords": ["binary", "diff", "hex", "patch", "firmware", "compare"],
  "license": "MIT",
  "author": "The bvex authors",
  "homepage": "$homepage",
  "bugs": "$homepage/issues",
  "repository": {"type": "git", "url": "git+$homepage.git"},
  "bin": {"bvex": "bin/bvex.js"},
  "man": ["bvex.1"],
  "files": ["bin/bvex.js", "bvex.wasm", "bvex.1"],
  "engines": {"node": ">=20"},
  "optionalDependencies": {
$optional
  }
}
END
chmod 0755 "$folder/bin" "$folder/bin/bvex.js"
chmod 0644 "$folder/bvex.wasm" "$folder/bvex.1" "$folder/README.md" "$folder/LICENSE" \
    "$folder/package.json"
pack "$folder" "bvex-$version-npm.tgz"
