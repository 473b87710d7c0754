# Cross-building bvex for big-endian s390x (IBM Z) Linux with Debian's
# g++-s390x-linux-gnu; the tests run under qemu-s390x (Debian: qemu-user).
#   cmake -B build/linux-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/linux-s390x.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(BVEX_CROSS_TRIPLE s390x-linux-gnu)
set(BVEX_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
