#!/usr/bin/env bash
# Builds bvex and runs every test: the suite; the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer; the suite built with clang and libc++ (Debian: clang,
# libc++-dev, libc++abi-dev); the forge's CI workflow parsed and its shell steps linted
# (Debian: python3-yaml, shellcheck); each fuzz target for a bounded time (needs clang and its
# fuzzer runtime, Debian: clang, libclang-rt-14-dev); the suite of the Windows build under
# Wine (Debian: g++-mingw-w64-x86-64-posix, wine64, wine, googletest); the suite of the
# arm64, armhf and s390x builds under qemu-user (Debian: g++-aarch64-linux-gnu,
# g++-arm-linux-gnueabihf, g++-s390x-linux-gnu, qemu-user); bvex.wasm, the WASI build, with
# its command-line tests under Node (Debian: clang, wasi-libc, libc++-14-dev-wasm32,
# libc++abi-14-dev-wasm32, libclang-rt-14-dev-wasm32, nodejs); and the release files, built,
# installed and checked as users meet them (packaging/check.sh: root or sudo, Debian:
# debhelper, lintian, zip, unzip, file, man-db, git, checksec, and libc6:arm64, libc6:armhf and
# libgcc-s1:armhf for the ARM packages' dependencies).
# A stage whose tools are missing is skipped with a message, except in CI (CI=true), where
# every stage must run.
set -euo pipefail
cd "$(dirname "$0")/.."

have() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null 2>&1 || return 1
    done
}
skip() {
    if [[ ${CI:-} == true ]]; then
        echo "check: $1 cannot run here: $2" >&2
        exit 1
    fi
    echo "check: $1 skipped: $2"
}

cmake --workflow --preset check
cmake --workflow --preset asan
# The suite built with clang and libc++, as on macOS and the BSDs (Debian: clang, libc++-dev,
# libc++abi-dev).
if have clang++ && printf '#include <string>\nint main() {}\n' |
    clang++ -stdlib=libc++ -x c++ - -o /dev/null 2>/dev/null; then
    cmake --workflow --preset libcxx
else
    skip "libc++ suite" "clang++ with libc++ not found"
fi
# The forge's workflow, as far as it can be checked here (Debian: python3-yaml, shellcheck).
if have shellcheck && /usr/bin/python3 -c 'import yaml' 2>/dev/null; then
    /usr/bin/python3 tools/check_workflows.py
else
    skip "workflow check" "shellcheck or Python's yaml module not found"
fi
if have clang++; then
    cmake --workflow --preset fuzz
else
    skip "fuzz targets" "clang++ not found"
fi
if have x86_64-w64-mingw32-g++-posix wine wineserver; then
    cmake --workflow --preset windows
else
    skip "Windows suite" "the MinGW-w64 cross compiler or Wine not found"
fi
# The suite of each other Linux machine: its preset, cross compiler and emulator.
for target in "linux-arm64 aarch64-linux-gnu-g++ qemu-aarch64" \
    "linux-armhf arm-linux-gnueabihf-g++ qemu-arm" "linux-s390x s390x-linux-gnu-g++ qemu-s390x"; do
    read -r preset compiler emulator <<<"$target"
    if have "$compiler" "$emulator"; then
        cmake --workflow --preset "$preset"
    else
        skip "$preset suite" "$compiler or $emulator not found"
    fi
done
# bvex.wasm: clang must find wasi-libc and libc++ for wasm32, and Node runs the tests.
if have clang++ node && printf '#include <string>\nint main() {}\n' |
    clang++ --target=wasm32-wasi -x c++ - -o /dev/null 2>/dev/null; then
    cmake --workflow --preset wasi
else
    skip "WASI suite" "clang++ for wasm32-wasi (wasi-libc, libc++ and its runtime for wasm32) or node not found"
fi
if have dpkg-buildpackage dh lintian zip unzip file man git checksec x86_64-w64-mingw32-g++-posix \
    wine aarch64-linux-gnu-g++ arm-linux-gnueabihf-g++ qemu-aarch64 qemu-arm &&
    { [[ $(id -u) == 0 ]] || have sudo; }; then
    packaging/check.sh
else
    skip "release files check" "packaging tools, Wine or root rights missing"
fi
