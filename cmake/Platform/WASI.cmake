# What CMake needs to know of WASI, the WebAssembly System Interface (preview 1), which it
# does not know by itself: programs are .wasm modules, and there are no shared libraries.
# cmake/wasi.cmake puts this folder on CMAKE_MODULE_PATH.
set(WASI 1)
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
set(CMAKE_STATIC_LIBRARY_PREFIX lib)
set(CMAKE_STATIC_LIBRARY_SUFFIX .a)
set_property(GLOBAL PROPERTY TARGET_SUPPORTS_SHARED_LIBS FALSE)

# clang runs binaryen's wasm-opt after an optimised link when it finds one on the PATH, without
# the features bvex is compiled with (SIMD), and fails. The link optimises nothing itself, so
# the last optimisation option it sees is -O0: the objects are optimised already.
set(CMAKE_CXX_LINK_FLAGS -O0)
