# Cross-building bvex for 32-bit ARM Linux (ARMv7, hard float) with Debian's
# g++-arm-linux-gnueabihf; the tests run under qemu-arm (Debian: qemu-user).
#   cmake -B build/linux-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/linux-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7)
set(BVEX_CROSS_TRIPLE arm-linux-gnueabihf)
set(BVEX_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
