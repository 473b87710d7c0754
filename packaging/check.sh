#!/bin/sh
# Checks the release files as their users meet them. Builds them with the package preset,
# then: SHA256SUMS holds the checksum of every other file; every binary carries its
# protections (packaging/hardening.sh); lintian finds nothing at warning level or above;
# the amd64 Debian package installs, its bvex runs the sample pair, man shows its page, and
# it removes cleanly (left out where a bvex package is installed already, which it would
# replace); the ARM Debian packages (not installed here) are built for their
# machine, with the same files and computed dependencies; each tarball's bvex is static and
# runs the sample pair, the ARM and RISC-V ones under qemu-user; the zip holds what it should, and its
# bvex.exe runs the sample pair under Wine; bvex.wasm runs it under Node; the web page's
# policy lets nothing reach the network, and the page carries its module; the source
# tarball, unpacked where no git repository is around it, builds, passes the suite and runs
# the sample pair, and without git the packaging scripts say what they miss. Then a clean
# clone of HEAD, at another path and with another umask and time zone, and the source
# tarball given the commit's time must build the same files byte for byte (all but the
# source tarball itself, which the clone must make as the first build did). Installs with
# dpkg, so it runs as root (or through sudo).
set -eu
cd "$(dirname "$0")/.."
root=$PWD
export LC_ALL=C

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}
fail() {
    echo "packaging check: $*" >&2
    exit 1
}

scratch=$(mktemp -d /tmp/bvex-package-check.XXXXXX)
installed=no
# bvex.exe runs under Wine in a prefix of its own, removed with the rest.
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    if [ "$installed" = yes ]; then as_root dpkg --purge bvex >/dev/null || true; fi
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# The sample pair's report, as the README shows it; on Windows its lines end in CR LF.
cat >"$scratch/expected" <<'EOF'
0000804D: 284F62 904F62
00008050: 9ABF 9A90
00008083: FF04294E93B9DCE3062D7097BA EB04294E93B9DCE3062D7000BA
00008125: 7D5A C3CC
EOF
sed 's/$/\r/' "$scratch/expected" >"$scratch/expected.crlf"
pair=$root/examples
sample() { # sample EXPECTED BVEX...: the command prints the report of the sample pair in $pair
    expected=$1
    shift
    "$@" "$pair/original.bin" "$pair/patched.bin" 8000 >"$scratch/out" ||
        fail "$* failed on the sample pair"
    cmp -s "$scratch/out" "$expected" || {
        diff "$expected" "$scratch/out" >&2 || true
        fail "$* printed a wrong report for the sample pair"
    }
}

cmake --workflow --preset package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
dist=build/package/dist
deb=bvex_${version}_amd64.deb
zip=bvex-$version-windows-x86_64.zip
tarball=bvex-$version-linux
source=bvex-$version.tar.gz
wasm=bvex-$version-wasi.wasm
web=bvex-$version-web.html
[ "$(ls "$dist")" = "$(printf '%s\n' SHA256SUMS "$deb" "bvex_${version}_arm64.deb" \
    "bvex_${version}_armhf.deb" "$tarball-aarch64.tar.gz" "$tarball-armv7.tar.gz" \
    "$tarball-riscv64.tar.gz" "$tarball-x86_64.tar.gz" "$zip" "$source" "$wasm" "$web" |
    sort)" ] ||
    fail "$dist holds other files: $(echo "$dist"/*)"

echo "== SHA256SUMS"
(cd "$dist" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$(cut -d' ' -f3 "$dist/SHA256SUMS")" = "$(ls --ignore=SHA256SUMS "$dist")" ] ||
    fail "SHA256SUMS does not cover every release file: $(cat "$dist/SHA256SUMS")"

# hardening KIND BINARY BUILD_DIR OBJECT_SUFFIX PLATFORM: the binary and the objects it was
# built from in BUILD_DIR (main, platform_PLATFORM and fatal; on Windows the compile commands
# instead of fatal) carry their protections.
hardening() {
    objects=$3/CMakeFiles
    fortify=$objects/bvex_frontend.dir/src/frontend/fatal.cpp.$4
    [ "$5" = windows ] && fortify=$3/compile_commands.json
    sh packaging/hardening.sh "$1" "$2" "$objects/bvex.dir/src/frontend/main.cpp.$4" \
        "$objects/bvex_frontend.dir/src/frontend/platform_$5.cpp.$4" "$fortify"
}

echo "== $deb"
lintian --fail-on error,warning "$dist/$deb"
# Installing replaces a bvex package that is already there, and removing it then leaves the
# machine without: with one installed, the install check is left out (an error in CI).
prior=$(dpkg-query -W -f='${db:Status-Status}' bvex 2>/dev/null) || prior=not-installed
if [ "$prior" != not-installed ]; then
    prior="a bvex package ($(dpkg-query -W -f='${Version}' bvex)) is $prior here"
    [ "${CI:-}" != true ] || fail "$deb cannot be installed and removed: $prior"
    echo "packaging check: $deb not installed: $prior, and is kept"
else
    installed=yes
    as_root dpkg --install "$dist/$deb"
    dpkg-query -W -f='${Version} ${Depends}\n' bvex | grep -q "^$version .*libc6 (>= " ||
        fail "installed package: $(dpkg-query -W -f='${Version} ${Depends}' bvex)"
    as_root dpkg --verify bvex || fail "installed files differ from the package"
    file -L /usr/bin/bvex | grep -q 'dynamically linked' || fail "/usr/bin/bvex is not dynamic"
    sh packaging/hardening.sh dynamic /usr/bin/bvex
    sample "$scratch/expected" /usr/bin/bvex
    man -aw bvex | grep -qx /usr/share/man/man1/bvex.1.gz || fail "man does not find bvex.1.gz"
    MANWIDTH=80 man bvex 2>&1 | grep -q "bvex $version" || fail "man bvex does not show the page"
    as_root dpkg --remove bvex
    installed=no
    status=$(dpkg-query -W -f='${db:Status-Status}' bvex 2>/dev/null) || status=not-installed
    [ "$status" = not-installed ] || fail "bvex is $status after dpkg --remove"
    for path in /usr/bin/bvex /usr/share/man/man1/bvex.1.gz /usr/share/doc/bvex; do
        [ ! -e "$path" ] || fail "$path is left after dpkg --remove"
    done
fi

# machine ARCH: how file(1) names the machine of a Debian or GNU architecture.
machine() {
    case $1 in
        amd64 | x86_64) echo 'x86-64' ;;
        arm64 | aarch64) echo 'ARM aarch64' ;;
        armhf | armv7) echo 'ARM, EABI5' ;;
        riscv64) echo 'RISC-V' ;;
    esac
}

# The ARM packages cannot be installed here: what is in them must match the amd64 package,
# and their bvex must be built for their machine, with its dependencies computed (the C
# library, and on armhf the GCC runtime for unwinding).
files() { dpkg-deb --contents "$1" | awk '{ print $1, $6 }'; }
for arch in arm64 armhf; do
    name=bvex_${version}_$arch.deb
    echo "== $name"
    lintian --fail-on error,warning "$dist/$name"
    [ "$(dpkg-deb --field "$dist/$name" Package Version Architecture)" = \
        "$(printf 'Package: bvex\nVersion: %s\nArchitecture: %s' "$version" "$arch")" ] ||
        fail "$name: $(dpkg-deb --field "$dist/$name")"
    depends=$(dpkg-deb --field "$dist/$name" Depends)
    expected=libc6
    [ "$arch" = armhf ] && expected='libc6, libgcc-s1'
    [ "$(echo "$depends" | sed 's/ ([^)]*)//g')" = "$expected" ] ||
        fail "$name depends on: $depends"
    echo "$depends" | grep -q '^libc6 (>= ' || fail "$name: no version for libc6: $depends"
    [ "$(files "$dist/$name")" = "$(files "$dist/$deb")" ] ||
        fail "$name holds other files than $deb: $(files "$dist/$name")"
    dpkg-deb --extract "$dist/$name" "$scratch/$arch"
    file "$scratch/$arch/usr/bin/bvex" | grep -q "$(machine "$arch").*dynamically linked" ||
        fail "$name: $(file "$scratch/$arch/usr/bin/bvex")"
    sh packaging/hardening.sh dynamic "$scratch/$arch/usr/bin/bvex"
done

# Each tarball's bvex is static; on ARM and RISC-V it runs under qemu-user.
for arch in x86_64 aarch64 armv7 riscv64; do
    name=$tarball-$arch.tar.gz
    echo "== $name"
    # No static PIE on armv7 and riscv64: Debian 12's C libraries for them cannot make one.
    cross=build/package/packaging/cross
    case $arch in
        x86_64) run='' kind=static-pie build=build/package ;;
        aarch64) run=qemu-aarch64 kind=static-pie build=$cross-arm64 ;;
        armv7) run=qemu-arm kind=static build=$cross-armhf ;;
        riscv64) run=qemu-riscv64 kind=static build=$cross-riscv64 ;;
    esac
    folder=bvex-$version
    listing=$(tar -tzf "$dist/$name" | sort)
    [ "$listing" = "$(printf '%s\n' "$folder/" "$folder/LICENSE" "$folder/README.md" \
        "$folder/bvex" "$folder/bvex.1")" ] || fail "$name holds: $listing"
    rm -rf "${scratch:?}/$folder"
    tar -xzf "$dist/$name" -C "$scratch"
    file "$scratch/$folder/bvex" | grep -Eq "$(machine "$arch").*(statically|static-pie) linked" ||
        fail "the bvex of $name is not static for its machine: $(file "$scratch/$folder/bvex")"
    # shellcheck disable=SC2086 # no runner on x86-64
    sample "$scratch/expected" env -i $run "$scratch/$folder/bvex"
    hardening "$kind" "$scratch/$folder/bvex" "$build" o posix
done

echo "== $zip"
listing=$(unzip -Z1 "$dist/$zip")
[ "$listing" = "$(printf '%s\n' LICENSE README.md bvex.exe bvex.txt)" ] ||
    fail "$zip holds: $listing"
unzip -q "$dist/$zip" -d "$scratch/zip"
file "$scratch/zip/bvex.exe" | grep -q 'PE32+ executable (console) x86-64' ||
    fail "bvex.exe: $(file "$scratch/zip/bvex.exe")"
grep -q "bvex $version" "$scratch/zip/bvex.txt" || fail "bvex.txt is not the manual page"
sample "$scratch/expected.crlf" wine "$scratch/zip/bvex.exe"
hardening exe "$scratch/zip/bvex.exe" build/package/packaging/zip/build obj windows
for name in LICENSE README.md; do
    cmp -s "$scratch/zip/$name" "$name" || fail "the zip's $name differs from the sources"
done

echo "== $wasm"
head -c 8 "$dist/$wasm" | od -An -tx1 | grep -q ' 00 61 73 6d 01 00 00 00' ||
    fail "$wasm is not a WebAssembly module of version 1"
sample "$scratch/expected" node tools/wasi-run.mjs "$dist/$wasm"

echo "== $web"
# One policy, and it lets nothing reach the network: no source but the page's own inline
# script and style (by their hashes), its workers made from blob: URLs, and compiling
# WebAssembly; the page names no network address at all.
[ "$(grep -c '<meta http-equiv="Content-Security-Policy"' "$dist/$web")" = 1 ] ||
    fail "$web does not have exactly one Content-Security-Policy"
csp=$(sed -n 's/.*<meta http-equiv="Content-Security-Policy" content="\([^"]*\)".*/\1/p' \
    "$dist/$web")
echo "$csp" | tr ';' '\n' | sed 's/^ *//' | sed -E "s/'sha256-[A-Za-z0-9+\/]+=*'/HASH/g" |
    sort >"$scratch/csp"
printf '%s\n' "default-src 'none'" "script-src HASH 'wasm-unsafe-eval'" "style-src HASH" \
    "worker-src blob:" "base-uri 'none'" "form-action 'none'" | sort >"$scratch/csp.expected"
diff "$scratch/csp.expected" "$scratch/csp" >&2 || fail "$web has another policy: $csp"
if grep -Eiq '(https?|wss?|ftp)://' "$dist/$web"; then
    fail "$web names a network address: $(grep -Eio '(https?|wss?|ftp)://[^ "]*' "$dist/$web")"
fi
# The page's module is built from the same sources as bvex.wasm, as a reactor whose calls the
# page hands both files' bytes.
sed -n 's/^const BVEX_WASM = "\([A-Za-z0-9+\/=]*\)";$/\1/p' "$dist/$web" | base64 -d \
    >"$scratch/page.wasm"
head -c 8 "$scratch/page.wasm" | od -An -tx1 | grep -q ' 00 61 73 6d 01 00 00 00' ||
    fail "$web does not carry a WebAssembly module"
for call in _initialize bvex_page_start bvex_page_room bvex_page_space bvex_page_give \
    bvex_page_end bvex_page_block_address; do
    grep -q "$call" "$scratch/page.wasm" || fail "$web's module does not export $call"
done

echo "== $source"
# Unpacked in the scratch folder, above which git does not look for a repository: what the
# build and the suite need is in it, and none of it needs git.
tree=$scratch/source/bvex-$version
mkdir "$scratch/source"
tar -xzf "$dist/$source" -C "$scratch/source"
[ ! -e "$tree/.git" ] || fail "$source holds a git repository"
export GIT_CEILING_DIRECTORIES="$scratch"
(cd "$tree" && cmake --workflow --preset check) ||
    fail "the sources in $source do not build, or do not pass the suite"
pair=$tree/examples
sample "$scratch/expected" "$tree/build/check/bvex"
# undated TREE EXPECTED [VARIABLE=VALUE...]: the packaging scripts, run for TREE without
# SOURCE_DATE_EPOCH (and with the variables given), cannot date the release files: they
# stop and say EXPECTED, and that SOURCE_DATE_EPOCH can be set instead.
undated() {
    undated=$1 expected=$2
    shift 2
    # shellcheck disable=SC2016 # expanded by the inner shell
    if said=$(env -u SOURCE_DATE_EPOCH "$@" /bin/sh -c \
        'set -- "$1" "$2" 0 && . "$1/packaging/common.sh"' sh "$undated" "$scratch/undated" 2>&1)
    then
        fail "the packaging scripts dated the release files of $undated without git"
    fi
    case $said in
        *"$expected"*SOURCE_DATE_EPOCH*) ;;
        *) fail "the packaging scripts, for $undated, said: $said" ;;
    esac
}
undated "$tree" "git not found" PATH=/nonexistent
# Inside another repository, whose last commit is not the one the sources are from.
git init -q "$scratch/outer"
git -C "$scratch/outer" -c user.name=bvex -c user.email=bvex@example.org \
    commit -q --allow-empty -m "another project"
tar -xzf "$dist/$source" -C "$scratch/outer"
undated "$scratch/outer/bvex-$version" "is not a git checkout"

echo "== a clean clone of HEAD and $source build the same files"
# The clone is built at another path, with another umask, time zone and locale; the
# sources in the tarball, from yet another path without git, given the commit's time. Both
# must make every file byte for byte as the other does, and the clone the same source
# tarball as the build above (which is made from HEAD whatever the working tree holds).
clone=$scratch/the/other/clone
git clone -q "$root" "$clone"
(cd "$clone" && umask 077 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 \
    cmake --workflow --preset package >/dev/null)
[ "$(ls "$clone/$dist")" = "$(ls "$dist")" ] || fail "the clone made other files"
cmp "$clone/$dist/$source" "$dist/$source" || fail "$source differs between two builds of HEAD"
(cd "$tree" && SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) \
    cmake --workflow --preset package >/dev/null)
[ "$(ls "$tree/$dist")" = "$(ls --ignore="$source" "$dist")" ] ||
    fail "the sources in $source made other files: $(ls "$tree/$dist")"
for path in "$tree/$dist"/*; do
    name=${path##*/}
    expected=$clone/$dist/$name
    if [ "$name" = SHA256SUMS ]; then
        grep -v " $source\$" "$expected" >"$scratch/SHA256SUMS"
        expected=$scratch/SHA256SUMS
    fi
    cmp "$path" "$expected" ||
        fail "$name built from $source differs from the one built from a clone of HEAD"
done
echo "packaging check: all release files are good and reproducible"
