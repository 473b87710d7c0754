# Building bvex.wasm, a WASI preview-1 command, with clang and Debian's wasi-libc and libc++
# for wasm32 (Debian: clang, wasi-libc, libc++-14-dev-wasm32, libc++abi-14-dev-wasm32,
# libclang-rt-14-dev-wasm32); the tests run it under Node through tools/wasi-run.mjs.
#   cmake -B build/wasi -DCMAKE_TOOLCHAIN_FILE=cmake/wasi.cmake
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
# Platform/WASI.cmake beside this file tells CMake what a WASI program is.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

# Debian's clang finds wasi-libc and libc++ for the target by itself: no --sysroot (/usr
# would bring in the build machine's own headers).
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)

# Libraries and headers come from the target's tree only, programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/lib/wasm32-wasi /usr/include/wasm32-wasi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# bvex.wasm runs here under Node, through the runner that gives it the build machine's files.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wasi-run.mjs)
cmake_path(NORMAL_PATH CMAKE_CROSSCOMPILING_EMULATOR)
