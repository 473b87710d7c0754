# Cross-building bvex and the suite for macOS on one architecture, CMAKE_OSX_ARCHITECTURES
# (arm64 or x86_64), for CMAKE_OSX_DEPLOYMENT_TARGET and later, with Zig's clang, its
# macOS headers and its stubs of the system libraries (cmake/zig.cmake); Debian's
# llvm-install-name-tool-14 (llvm-14) stands in for Apple's install_name_tool. The suite
# cannot run here. The presets cross-macos-arm64 and cross-macos-x86_64 use it, and
# tools/cross.sh joins the two bvex into one.
set(CMAKE_SYSTEM_NAME Darwin)
if(CMAKE_OSX_ARCHITECTURES STREQUAL "arm64")
    set(CMAKE_SYSTEM_PROCESSOR arm64)
    set(machine aarch64)
elseif(CMAKE_OSX_ARCHITECTURES STREQUAL "x86_64")
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
    set(machine x86_64)
else()
    message(FATAL_ERROR "zig-macos.cmake builds for one architecture, arm64 or x86_64: "
                        "CMAKE_OSX_ARCHITECTURES is '${CMAKE_OSX_ARCHITECTURES}'")
endif()
if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
    message(FATAL_ERROR "zig-macos.cmake needs CMAKE_OSX_DEPLOYMENT_TARGET, the oldest macOS "
                        "to run on")
endif()
set(BVEX_ZIG_TARGET ${machine}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET})
find_program(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool-14)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
