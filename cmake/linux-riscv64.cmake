# Cross-building bvex for 64-bit RISC-V Linux with Debian's g++-riscv64-linux-gnu; the tests
# run under qemu-riscv64 (Debian: qemu-user).
#   cmake -B build/linux-riscv64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-riscv64.cmake
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(BVEX_CROSS_TRIPLE riscv64-linux-gnu)
set(BVEX_QEMU qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
