# The protections of the binaries we ship, in one place. The package preset, the
# cross-built release files and the Debian package turn them on with BVEX_HARDEN, and the
# tarballs' bvex is linked static with BVEX_STATIC; the check presets build the suite
# hardened too, so that it runs against what users get.
#
# BVEX_HARDEN, for bvex's own code and the tests:
#   - a stack protector on every function with arrays or addresses taken;
#   - FORTIFY: checked copies where sizes are known (level 3 with glibc; MinGW-w64's
#     checks stop at level 2);
#   - on Linux, stack clash protection, the CPU's control-flow protection where it has one
#     (CET marks on x86, branch protection on arm64), full RELRO (relocations read-only,
#     resolved at start) and a non-executable stack.
# BVEX_STATIC, for bvex on Linux: a static PIE, loaded at a new address on every run, where
# the C library can make one; a static executable at a fixed address where it cannot
# (Debian 12's 32-bit ARM C library has no static-PIE start-up file).
option(BVEX_HARDEN "Build with the protections of a release (needs optimisation)" OFF)
option(BVEX_STATIC "Link bvex static, as a static PIE where possible (Linux)" OFF)

if(BVEX_HARDEN AND WASI)
    message(FATAL_ERROR "BVEX_HARDEN does not apply to WASI: wasi-libc has no stack protector "
                        "runtime, and a WebAssembly module can neither run its data as code nor "
                        "reach memory beyond its own")
endif()
if(BVEX_HARDEN)
    if(NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
        message(FATAL_ERROR "BVEX_HARDEN needs an optimised build (CMAKE_BUILD_TYPE Release, "
                            "RelWithDebInfo or MinSizeRel): FORTIFY checks nothing at -O0")
    endif()
    add_compile_options(-fstack-protector-strong -U_FORTIFY_SOURCE)
    if(WIN32)
        # The stack protector's runtime comes from MinGW-w64's static libssp.
        add_compile_options(-D_FORTIFY_SOURCE=2)
        add_link_options(-fstack-protector-strong)
    else()
        add_compile_options(-D_FORTIFY_SOURCE=3)
        set(flags -fstack-clash-protection)
        if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
            list(APPEND flags -fcf-protection=full)
        elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
            list(APPEND flags -mbranch-protection=standard)
        endif()
        # Compilers other than Debian's (Apple's clang, say) may lack one of these; the
        # release files' check (packaging/hardening.sh) is what proves them there.
        include(CheckCXXCompilerFlag)
        foreach(flag IN LISTS flags)
            string(MAKE_C_IDENTIFIER "BVEX_HAVE${flag}" have)
            check_cxx_compiler_flag(${flag} ${have})
            if(${have})
                add_compile_options(${flag})
            else()
                message(WARNING "${CMAKE_CXX_COMPILER} does not take ${flag}: built without it")
            endif()
        endforeach()
        if(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")  # not Apple's linker, which has no -z
            add_link_options(LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)
        endif()
    endif()
endif()

if(BVEX_STATIC AND NOT WIN32)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_FLAGS -fPIE)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
    check_cxx_source_compiles("int main() { return 0; }" BVEX_HAVE_STATIC_PIE)
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(BVEX_HAVE_STATIC_PIE)
        set(CMAKE_POSITION_INDEPENDENT_CODE ON)
        set(BVEX_STATIC_LINK -static-pie)
    else()
        message(STATUS "No static PIE with this C library: bvex is linked static, at a fixed address")
        set(BVEX_STATIC_LINK -static)
    endif()
endif()
