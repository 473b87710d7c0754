# The protections of the binaries we ship, in one place. The package preset, the
# cross-built release files and the Debian package turn them on with BVEX_HARDEN, and the
# tarballs' bvex is linked static with BVEX_STATIC; the check presets build the suite
# hardened too, so that it runs against what users get.
#
# BVEX_HARDEN, for bvex's own code and the tests:
#   - a stack protector on every function with arrays or addresses taken;
#   - FORTIFY: checked copies where sizes are known (level 3 with glibc; MinGW-w64's
#     checks stop at level 2);
#   - stack clash protection and the CPU's control-flow protection where it has one (CET
#     marks on x86, branch protection on arm64), where the compiler honours them for the
#     target (clang's stack clash protection: Linux and FreeBSD only);
#   - on Linux, full RELRO (relocations read-only, resolved at start) and a
#     non-executable stack.
# BVEX_STATIC, for bvex on Linux: a static PIE, loaded at a new address on every run, where
# the C library can make one; a static executable at a fixed address where it cannot
# (Debian 12's C libraries for 32-bit ARM and for RISC-V have no static-PIE start-up file).
option(BVEX_HARDEN "Build with the protections of a release (needs optimisation)" OFF)
option(BVEX_STATIC "Link bvex static, as a static PIE where possible (Linux)" OFF)

# bvex_optional_hardening(): adds the protections a compiler may lack, each where it takes
# it: stack clash protection, and the CPU's control-flow protection where the machine has
# one (CET marks on x86, branch protection on arm64). A build for several architectures at
# once (CMAKE_OSX_ARCHITECTURES) checks each flag for each of them, and passes a flag that
# not all of them take only to those that do (-Xarch_ARCH). Compilers other than Debian's
# (Apple's clang, say) may lack one of these; the release files' check
# (packaging/hardening.sh) is what proves them there.
function(bvex_optional_hardening)
    include(CheckCXXCompilerFlag)
    # clang takes, with only a warning, a flag that does nothing for the target (stack clash
    # protection anywhere but Linux and FreeBSD): with that warning an error, such a flag
    # counts as unsupported. g++ has no such warning, and refuses the option.
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        set(CMAKE_REQUIRED_FLAGS -Werror=unused-command-line-argument)
    endif()
    set(architectures ${CMAKE_OSX_ARCHITECTURES})
    list(LENGTH architectures count)
    if(count EQUAL 0)
        set(architectures ${CMAKE_SYSTEM_PROCESSOR})
    endif()
    set(candidates)
    foreach(architecture IN LISTS architectures)
        set(flags -fstack-clash-protection)
        if(architecture MATCHES "^(x86_64|x86_64h|AMD64|amd64|i[3-6]86)$")
            list(APPEND flags -fcf-protection=full)
        elseif(architecture MATCHES "^(aarch64|arm64)$")
            list(APPEND flags -mbranch-protection=standard)
        endif()
        if(count GREATER 1)
            # The check builds for this architecture alone (a variable local to the function).
            set(CMAKE_OSX_ARCHITECTURES ${architecture})
        endif()
        foreach(flag IN LISTS flags)
            list(APPEND candidates ${flag})
            string(MAKE_C_IDENTIFIER "BVEX_HAVE_${architecture}${flag}" have)
            check_cxx_compiler_flag(${flag} ${have})
            if(${have})
                list(APPEND takers${flag} ${architecture})
            else()
                message(WARNING "${CMAKE_CXX_COMPILER} does not take ${flag} for ${architecture}: "
                                "built without it")
            endif()
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES candidates)
    foreach(flag IN LISTS candidates)
        if("${takers${flag}}" STREQUAL "${architectures}")
            add_compile_options(${flag})
        else()
            foreach(architecture IN LISTS takers${flag})
                add_compile_options("SHELL:-Xarch_${architecture} ${flag}")
            endforeach()
        endif()
    endforeach()
endfunction()

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
        bvex_optional_hardening()
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
