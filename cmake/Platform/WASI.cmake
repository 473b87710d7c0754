# What CMake needs to know of WASI, the WebAssembly System Interface (preview 1), which it
# does not know by itself: programs are .wasm modules, and there are no shared libraries.
# cmake/wasi.cmake puts this folder on CMAKE_MODULE_PATH.
set(WASI 1)
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
set(CMAKE_STATIC_LIBRARY_PREFIX lib)
set(CMAKE_STATIC_LIBRARY_SUFFIX .a)
set_property(GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS FALSE)

# clang 14 runs binaryen's wasm-opt after an optimised link when it finds one on the PATH, and
# with bvex's SIMD code that step fails. The objects are optimised already and the link itself
# optimises nothing, so the last optimisation option the link sees is -O0, which skips it.
set(CMAKE_CXX_LINK_FLAGS -O0)
