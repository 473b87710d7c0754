# The common part of the Linux cross toolchains (linux-arm64.cmake, linux-armhf.cmake,
# linux-s390x.cmake, linux-riscv64.cmake), which set BVEX_CROSS_TRIPLE (the GNU triple of Debian's
# g++-TRIPLE cross compiler), CMAKE_SYSTEM_PROCESSOR and BVEX_QEMU (the qemu-user
# program, Debian: qemu-user, that runs the target's programs here) before including it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${BVEX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${BVEX_CROSS_TRIPLE}-g++)

# Libraries and headers come from the cross compiler's tree only, programs from the build
# machine.
set(CMAKE_FIND_ROOT_PATH /usr/${BVEX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's programs built here (the tests, and the bvex they start) run under qemu-user.
# The presets link them static, so that qemu needs no copy of the target's C library and
# nothing host-wide (binfmt_misc) has to be set up.
find_program(BVEX_QEMU_PROGRAM ${BVEX_QEMU})
if(BVEX_QEMU_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BVEX_QEMU_PROGRAM})
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BVEX_QEMU})
endif()
