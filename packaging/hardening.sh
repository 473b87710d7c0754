#!/bin/sh
# Fails unless a binary we ship carries the protections the build gives it (see
# cmake/hardening.cmake), naming the first that is missing.
# Usage: hardening.sh KIND BINARY [OBJECTS...]
#   dynamic     a dynamically linked ELF (the Debian packages' bvex): checksec finds full
#               RELRO, a stack canary, NX, PIE and FORTIFY
#   static-pie  a static PIE: ELF type DYN, no interpreter, BIND_NOW, GNU_RELRO, and a
#               stack that is not executable
#   static      the same for a static executable at a fixed address (ELF type EXEC),
#               where the C library cannot make a static PIE
#   exe         a Windows executable: DYNAMIC_BASE, HIGH_ENTROPY_VA and NX_COMPAT, and no
#               DLL that does not come with Windows (its own, and the UCRT's, which
#               Windows on ARM builds import)
# OBJECTS are bvex's own object files (main, platform and fatal), built as BINARY was.
# A stripped static binary shows no sign of the stack protector or FORTIFY, and the C
# library brings its own canary check either way, so the objects are checked instead: main
# and the platform code must call the stack protector's check, and fatal the checked
# fprintf of FORTIFY. MinGW-w64 checks no printf of that kind, and bvex's copies all have
# sizes the compiler proves, so a Windows build leaves no checked call in any object: there
# the build's compile_commands.json, given among the objects, must show FORTIFY on every
# compile.
set -eu
kind=$1
binary=$2
shift 2

fail() {
    echo "hardening check: $binary: $*" >&2
    exit 1
}
# GNU binutils read the files of the machines Debian builds for; for the others (Windows on
# ARM) LLVM's tools (Debian: llvm-14) stand in, with the same output for what is read here.
headers() {
    objdump --private-headers "$1" 2>/dev/null || llvm-objdump-14 --private-headers "$1"
}
undefined() {
    nm --undefined-only "$1" 2>/dev/null || llvm-nm-14 --undefined-only "$1"
}
[ -f "$binary" ] || fail "no such file"

case $kind in
    dynamic)
        report=$(checksec --output=json --file="$binary")
        for want in '"relro":"full"' '"canary":"yes"' '"nx":"yes"' '"pie":"yes"' \
            '"fortify_source":"yes"'; do
            case $report in *"$want"*) ;; *) fail "checksec does not find $want: $report" ;; esac
        done
        ;;
    static-pie | static)
        type=DYN
        [ "$kind" = static ] && type=EXEC
        header=$(readelf --file-header "$binary")
        echo "$header" | grep -Eq "^ *Type: +$type " ||
            fail "not of ELF type $type: $(echo "$header" | grep 'Type:')"
        segments=$(readelf --wide --segments "$binary")
        if echo "$segments" | grep -q INTERP; then fail "has an interpreter: not static"; fi
        echo "$segments" | grep -q GNU_RELRO || fail "no GNU_RELRO segment"
        echo "$segments" | grep -Eq 'GNU_STACK( +0x[0-9a-f]+){5} RW ' ||
            fail "the stack is executable, or not marked: $(echo "$segments" | grep GNU_STACK)"
        dynamic=$(readelf --dynamic "$binary")
        if ! echo "$dynamic" | grep -q 'no dynamic section'; then
            echo "$dynamic" | grep -Eq 'BIND_NOW|Flags:.* NOW' ||
                fail "relocations are not resolved at start (no BIND_NOW)"
        fi
        ;;
    exe)
        headers=$(headers "$binary") || fail "objdump cannot read it"
        for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
            echo "$headers" | grep -Eq "^[[:space:]]+$flag\$" || fail "no $flag"
        done
        for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
            case $(echo "$dll" | tr '[:lower:]' '[:upper:]') in
                KERNEL32.DLL | MSVCRT.DLL | ADVAPI32.DLL) ;;
                UCRTBASE.DLL | API-MS-WIN-CRT-*-L1-1-0.DLL) ;;
                *) fail "imports $dll, which does not come with Windows" ;;
            esac
        done
        ;;
    *)
        echo "usage: $0 dynamic|static-pie|static|exe BINARY [OBJECTS...]" >&2
        exit 2
        ;;
esac

for object; do
    case ${object##*/} in
        compile_commands.json)
            compiles=$(grep -c '"command"' "$object") || fail "$object lists no compile"
            fortified=$(grep -c '"command".* -D_FORTIFY_SOURCE=[1-3] ' "$object") || fortified=0
            [ "$compiles" = "$fortified" ] ||
                fail "$fortified of the $compiles compiles in $object ask for FORTIFY"
            continue
            ;;
        fatal.cpp.o*) wanted=__fprintf_chk ;;
        *) wanted=__stack_chk_fail ;;
    esac
    undefined "$object" | grep -Eq " _{0,1}$wanted\$" ||
        fail "${object##*/} does not call $wanted: built without the protections"
done
echo "hardening check: $binary ($kind) is protected"
