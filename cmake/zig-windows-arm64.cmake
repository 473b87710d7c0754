# Cross-building bvex.exe and the suite for Windows on ARM (aarch64-windows-gnu: MinGW-w64's
# headers and runtime on the UCRT) with Zig's clang (cmake/zig.cmake). Nothing here can run
# it: the preset cross-windows-arm64 builds it, and tools/cross.sh checks its protections.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BVEX_ZIG_TARGET aarch64-windows-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
