#!/usr/bin/env bash
# Builds bvex and runs every test: the suite, the suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and each fuzz target for a bounded time when
# clang's libFuzzer runtime is there (Debian: clang, libclang-rt-14-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset check
cmake --workflow --preset asan
if command -v clang++ >/dev/null 2>&1; then
    cmake --workflow --preset fuzz
else
    echo "clang++ not found: fuzz targets not run"
fi
