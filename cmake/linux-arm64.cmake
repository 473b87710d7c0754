# Cross-building bvex for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the tests
# run under qemu-aarch64 (Debian: qemu-user).
#   cmake -B build/linux-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(BVEX_CROSS_TRIPLE aarch64-linux-gnu)
set(BVEX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
