# Cross-building bvex for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix);
# the tests run under Wine (Debian: wine64 and wine).
#   cmake -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BVEX_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW-w64 tree only, programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${BVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here (the tests) run under Wine.
find_program(BVEX_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(BVEX_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BVEX_WINE})
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
