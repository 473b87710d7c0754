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
# policy lets nothing reach the network, and the page carries its module; the Python wheels
# hold what they should, with a true RECORD and the tags pip takes for their machine, their
# bvex runs the sample pair, and the x86-64 one installs with pip into a virtual environment,
# runs there and uninstalls; the npm packages, installed from their files with no registry,
# run bvex as the native bvex runs, with their native package and without it (bvex.wasm);
# the source tarball, unpacked where no git repository is around it, builds, passes the
# suite and runs the sample pair, and without git the packaging scripts say what they miss.
# Then a clean clone of HEAD, at another path and with another umask and time zone, and the
# source tarball given the commit's time must build the same files byte for byte (all but the
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
# The wheels' platform tags, as pip reads them from the name: each static Linux bvex is for
# glibc systems from manylinux2014 (CentOS 7's kernel) on and for musl ones alike.
wheel=bvex-$version-py3-none
tags() { # tags ARCH: the compressed tag set of the Linux wheel for ARCH (uname -m)
    case $1 in
        riscv64) echo "manylinux_2_17_$1.musllinux_1_1_$1" ;;
        *) echo "manylinux_2_17_$1.manylinux2014_$1.musllinux_1_1_$1" ;;
    esac
}
npm=bvex-$version-npm
[ "$(ls "$dist")" = "$(printf '%s\n' SHA256SUMS "$deb" "bvex_${version}_arm64.deb" \
    "bvex_${version}_armhf.deb" "$tarball-aarch64.tar.gz" "$tarball-armv7.tar.gz" \
    "$tarball-riscv64.tar.gz" "$tarball-x86_64.tar.gz" "$zip" "$source" "$wasm" "$web" \
    "$wheel-$(tags x86_64).whl" "$wheel-$(tags aarch64).whl" "$wheel-$(tags armv7l).whl" \
    "$wheel-$(tags riscv64).whl" "$wheel-win_amd64.whl" "$npm.tgz" "$npm-linux-x64.tgz" \
    "$npm-linux-arm64.tgz" "$npm-linux-arm.tgz" "$npm-linux-riscv64.tgz" \
    "$npm-win32-x64.tgz" | sort)" ] ||
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

echo "== Python wheels"
# Every wheel's metadata as the package index reads it (Debian's twine: the README renders
# as the long description); then, member by member, what each holds: the binary of its
# tarball or zip as the script bvex, the manual page, the licence, the metadata and a RECORD
# whose hashes and sizes are those of the members.
twine check --strict "$dist"/*.whl || fail "twine check finds fault with the wheels"
# shellcheck disable=SC2016 # a Python program
record='
import base64, hashlib, sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = archive.namelist()
record = sys.argv[2] + "/RECORD"
if names[-1] != record:
    sys.exit("RECORD is not the last member")
listed = {}
for line in archive.read(record).decode().splitlines():
    name, digest, size = line.split(",")
    listed[name] = (digest, size)
if sorted(listed) != sorted(names):
    sys.exit("RECORD lists " + " ".join(sorted(listed)))
if listed.pop(record) != ("", ""):
    sys.exit("RECORD gives itself a hash")
for name, (digest, size) in listed.items():
    body = archive.read(name)
    hashed = base64.urlsafe_b64encode(hashlib.sha256(body).digest()).rstrip(b"=").decode()
    if (digest, size) != ("sha256=" + hashed, str(len(body))):
        sys.exit(name + ": RECORD says " + digest + " " + size)
'
# A virtual environment of Debian's Python: its pip says which platforms take each wheel, and
# installs the x86-64 one below.
venv=$scratch/venv
/usr/bin/python3 -m venv "$venv"
# pip ARGS...: the environment's pip, without the user's settings or other places to look.
pip() {
    env -u PIP_FIND_LINKS -u PIP_INDEX_URL -u PIP_EXTRA_INDEX_URL PIP_CONFIG_FILE=/dev/null \
        "$venv/bin/pip" --disable-pip-version-check "$@"
}
# member WHEEL NAME: prints the member NAME of WHEEL.
member() { unzip -p "$1" "$2"; }
data=bvex-$version.data
info=bvex-$version.dist-info
for arch in x86_64 aarch64 armv7l riscv64 win_amd64; do
    case $arch in
        win_amd64) name=$wheel-$arch.whl script=bvex.exe ;;
        *) name=$wheel-$(tags "$arch").whl script=bvex ;;
    esac
    echo "== $name"
    whl=$dist/$name
    listing=$(unzip -Z1 "$whl")
    [ "$listing" = "$(printf '%s\n' "$data/scripts/$script" "$data/data/share/man/man1/bvex.1" \
        "$info/LICENSE" "$info/METADATA" "$info/WHEEL" "$info/RECORD")" ] ||
        fail "$name holds: $listing"
    /usr/bin/python3 -c "$record" "$whl" "$info" || fail "$name: its RECORD is wrong"
    # The zip's modes: the script executable, the rest not.
    modes=$(unzip -Z -l "$whl" | awk '$1 ~ /^-/ { print $1, $NF }')
    [ "$modes" = "$(echo "-rwxr-xr-x $data/scripts/$script"
        for path in "$data/data/share/man/man1/bvex.1" "$info/LICENSE" "$info/METADATA" \
            "$info/WHEEL" "$info/RECORD"; do echo "-rw-r--r-- $path"; done)" ] ||
        fail "$name: members' modes: $modes"
    tag_lines=$(echo "${name%.whl}" | cut -d- -f5 | tr . '\n' | sed 's/^/Tag: py3-none-/')
    [ "$(member "$whl" "$info/WHEEL")" = "$(printf '%s\n' 'Wheel-Version: 1.0' \
        'Generator: bvex packaging/wheel.py' 'Root-Is-Purelib: false' "$tag_lines")" ] ||
        fail "$name: its WHEEL does not give the tags of its name: $(member "$whl" "$info/WHEEL")"
    member "$whl" "$info/METADATA" >"$scratch/METADATA"
    for field in 'Metadata-Version: 2.1' 'Name: bvex' "Version: $version" 'License: MIT' \
        'Summary: show where a patched file differs from its original, in hex' \
        'Requires-Python: >=3.6' \
        'Description-Content-Type: text/markdown; charset=UTF-8; variant=GFM' \
        'Classifier: License :: OSI Approved :: MIT License' \
        'Classifier: Environment :: Console'; do
        grep -qxF -- "$field" "$scratch/METADATA" || fail "$name: its METADATA lacks $field"
    done
    grep -q '^Project-URL: Source, https://' "$scratch/METADATA" ||
        fail "$name: its METADATA names no source"
    sed '1,/^$/d' "$scratch/METADATA" | cmp -s - README.md ||
        fail "$name: its long description is not README.md"
    member "$whl" "$info/LICENSE" | cmp -s - LICENSE || fail "$name: LICENSE differs"
    member "$whl" "$data/data/share/man/man1/bvex.1" | grep -q "^\.TH BVEX 1 .*\"bvex $version\"" ||
        fail "$name does not hold the manual page of bvex $version"
    # The wheel's bvex is its tarball's (or the zip's), and runs the sample pair there.
    mkdir "$scratch/wheel-$arch"
    member "$whl" "$data/scripts/$script" >"$scratch/wheel-$arch/$script"
    case $arch in
        win_amd64)
            cmp "$scratch/wheel-$arch/$script" "$scratch/zip/bvex.exe" ||
                fail "$name: its bvex.exe is not the zip's"
            continue
            ;;
        x86_64) run='' ;;
        aarch64) run=qemu-aarch64 ;;
        armv7l) run=qemu-arm ;;
        riscv64) run=qemu-riscv64 ;;
    esac
    tar -xzf "$dist/$tarball-${arch%l}.tar.gz" -C "$scratch/wheel-$arch" "bvex-$version/bvex"
    cmp "$scratch/wheel-$arch/bvex" "$scratch/wheel-$arch/bvex-$version/bvex" ||
        fail "$name: its bvex is not the one of $tarball-${arch%l}.tar.gz"
    chmod 755 "$scratch/wheel-$arch/bvex"
    # shellcheck disable=SC2086 # no runner on x86-64
    sample "$scratch/expected" env -i $run "$scratch/wheel-$arch/bvex"
    # pip takes the wheel for each platform its name gives, and for no other machine.
    for tag in $(echo "${name%.whl}" | cut -d- -f5 | tr . ' '); do
        pip install --quiet --dry-run --no-index --only-binary=:all: --target "$scratch/none" \
            --platform "$tag" "$whl" >/dev/null || fail "pip does not take $name for $tag"
    done
    other=x86_64
    [ "$arch" = x86_64 ] && other=aarch64
    if pip install --quiet --dry-run --no-index --only-binary=:all: --target "$scratch/none" \
        --platform "manylinux2014_$other" "$whl" >/dev/null 2>&1; then
        fail "pip takes $name for $other"
    fi
done

# The x86-64 wheel installed as a user installs it, in a virtual environment of Debian's
# Python, from the file alone: bvex is on the environment's path, man finds its page beside
# it, and pip uninstall takes both away.
name=$wheel-$(tags x86_64).whl
echo "== $name installed with pip"
pip install --no-index "$dist/$name"
[ "$(PATH=$venv/bin:$PATH command -v bvex)" = "$venv/bin/bvex" ] ||
    fail "pip install did not put bvex on the environment's path"
sample "$scratch/expected" env PATH="$venv/bin:$PATH" bvex
[ "$(PATH=$venv/bin:/usr/bin:/bin man -w bvex)" = "$venv/share/man/man1/bvex.1" ] ||
    fail "man does not find the wheel's bvex.1 beside bvex"
pip uninstall --yes bvex
for path in "$venv/bin/bvex" "$venv/share/man/man1/bvex.1"; do
    [ ! -e "$path" ] || fail "$path is left after pip uninstall"
done
if pip show bvex >/dev/null 2>&1; then
    fail "pip still shows bvex after pip uninstall"
fi

echo "== npm packages"
# What each package holds; the native ones, the binary of their tarball or zip, and the
# machines npm installs them on.
listing() { tar -tzf "$1" | sort | tr '\n' ' '; }
[ "$(listing "$dist/$npm.tgz")" = "package/LICENSE package/README.md package/bin/bvex.js \
package/bvex.1 package/bvex.wasm package/package.json " ] ||
    fail "$npm.tgz holds: $(listing "$dist/$npm.tgz")"
mkdir "$scratch/npm"
tar -xzf "$dist/$npm.tgz" -C "$scratch/npm" package/bvex.wasm package/package.json
cmp "$scratch/npm/package/bvex.wasm" "$dist/$wasm" || fail "$npm.tgz: bvex.wasm is not $wasm"
# field FILE EXPRESSION: the value of the JavaScript EXPRESSION on the package.json FILE (p).
field() {
    node -e 'const p = require(process.argv[1]); console.log(JSON.stringify(eval(process.argv[2])))' \
        "$1" "$2"
}
manifest=$scratch/npm/package/package.json
[ "$(field "$manifest" '[p.name, p.version, p.bin, p.engines, p.os, p.cpu]')" = \
    "[\"bvex\",\"$version\",{\"bvex\":\"bin/bvex.js\"},{\"node\":\">=20\"},null,null]" ] ||
    fail "$npm.tgz's package.json: $(cat "$manifest")"
[ "$(field "$manifest" 'Object.entries(p.optionalDependencies).join(" ")')" = \
    "\"$(for name in linux-x64 linux-arm64 linux-arm linux-riscv64 win32-x64 darwin-universal; do
        printf '@bvex/%s,%s ' "$name" "$version"; done | sed 's/ $//')\"" ] ||
    fail "$npm.tgz's optional dependencies: $(field "$manifest" p.optionalDependencies)"
for entry in linux-x64:linux:x64:x86_64 linux-arm64:linux:arm64:aarch64 \
    linux-arm:linux:arm:armv7l linux-riscv64:linux:riscv64:riscv64 \
    win32-x64:win32:x64,arm64:win_amd64; do
    name=${entry%%:*} rest=${entry#*:}
    os=${rest%%:*} rest=${rest#*:}
    cpu=${rest%%:*} arch=${rest#*:}
    file=bvex
    [ "$os" = win32 ] && file=bvex.exe
    tgz=$npm-$name.tgz
    [ "$(listing "$dist/$tgz")" = "package/LICENSE package/README.md package/$file \
package/package.json " ] || fail "$tgz holds: $(listing "$dist/$tgz")"
    mkdir "$scratch/npm/$name"
    tar -xzf "$dist/$tgz" -C "$scratch/npm/$name"
    [ "$(field "$scratch/npm/$name/package/package.json" \
        '[p.name, p.version, p.os.join(), p.cpu.join(), p.bin]')" = \
        "[\"@bvex/$name\",\"$version\",\"$os\",\"$cpu\",null]" ] ||
        fail "$tgz's package.json: $(cat "$scratch/npm/$name/package/package.json")"
    cmp "$scratch/npm/$name/package/$file" "$scratch/wheel-$arch/$file" ||
        fail "$tgz: its $file is not the one of its tarball or zip"
    [ -x "$scratch/npm/$name/package/$file" ] || fail "$tgz: its $file is not executable"
done

# The packages installed as a user installs them, into an empty project from the files
# alone: no registry is reachable and none is asked. The command must run the native bvex
# (the machine's package), then bvex.wasm (installed without it), and each must print what
# the native bvex prints, byte for byte, with its status, whatever the arguments.
offline() {
    env npm_config_registry=http://127.0.0.1:9/ npm_config_offline=true \
        npm_config_cache="$scratch/npm-cache" npm_config_userconfig=/dev/null \
        npm_config_update_notifier=false npm_config_audit=false npm_config_fund=false "$@"
}
native=$scratch/wheel-x86_64/bvex-$version/bvex
cp "$pair/original.bin" "$scratch/an original ü.bin"
head -c 1048576 /dev/zero >"$scratch/zeros"
tr '\0' '\377' <"$scratch/zeros" >"$scratch/ones"
# like_native ARGS...: npx bvex ARGS prints what bvex ARGS prints and ends alike.
like_native() {
    expected=0
    "$native" "$@" >"$scratch/native.out" 2>"$scratch/native.err" || expected=$?
    status=0
    (cd "$project" && offline npx bvex "$@") >"$scratch/npx.out" 2>"$scratch/npx.err" ||
        status=$?
    if ! cmp -s "$scratch/native.out" "$scratch/npx.out" ||
        ! cmp -s "$scratch/native.err" "$scratch/npx.err" || [ "$status" != "$expected" ]; then
        diff "$scratch/native.out" "$scratch/npx.out" >&2 || true
        diff "$scratch/native.err" "$scratch/npx.err" >&2 || true
        fail "npx bvex $* ($kind) ended with $status where bvex ends with $expected"
    fi
}
# piped BVEX...: the status of BVEX on a report of 64K lines read by head -c 1, whose end
# closes the pipe; what it printed on its standard error is in $scratch/piped.err.
piped() {
    {
        piped=0
        "$@" "$scratch/zeros" "$scratch/ones" 2>"$scratch/piped.err" || piped=$?
        echo "$piped" >"$scratch/piped"
    } | head -c 1 >/dev/null
    cat "$scratch/piped"
}
for kind in native wasm; do
    echo "== npm install of $npm.tgz ($kind)"
    project=$scratch/project-$kind
    mkdir "$project"
    echo '{"name": "user", "private": true}' >"$project/package.json"
    packages="$root/$dist/$npm.tgz"
    [ "$kind" = native ] && packages="$packages $root/$dist/$npm-linux-x64.tgz"
    # shellcheck disable=SC2086 # the packages' names, without blanks
    (cd "$project" && offline npm install --no-save $packages)
    bvex=$project/node_modules/.bin/bvex
    [ -x "$bvex" ] || fail "npm install put no command bvex in node_modules/.bin"
    if [ "$kind" = native ]; then
        cmp "$project/node_modules/@bvex/linux-x64/bvex" "$native" ||
            fail "npm install did not install the x86-64 bvex"
    else
        [ ! -e "$project/node_modules/@bvex" ] || fail "npm installed a native bvex: $kind"
    fi
    sample "$scratch/expected" offline env -C "$project" npx bvex
    like_native
    like_native -x a b
    like_native "$scratch/missing" "$pair/patched.bin"
    like_native "$pair/original.bin" "$scratch/missing"
    like_native "" "$pair/patched.bin"
    like_native -300 "$pair/original.bin" "$pair/patched.bin"
    like_native -8 "$scratch/an original ü.bin" "$pair/patched.bin" " 0x8000"
    like_native -- "$pair/original.bin" "$pair/patched.bin"
    # A closed pipe ends it as it ends bvex: killed by SIGPIPE, without a word.
    expected=$(piped "$native")
    if [ "$(piped "$bvex")" != "$expected" ] || [ -s "$scratch/piped.err" ]; then
        fail "bvex ($kind) on a closed pipe: status $(cat "$scratch/piped") where bvex's is" \
            "$expected; $(cat "$scratch/piped.err")"
    fi
    # Killed by a signal while it waits to read a FIFO, it ends by that signal; a native bvex,
    # the launcher's child, is sent the signal and ends by it.
    mkfifo "$scratch/fifo-$kind"
    "$bvex" "$scratch/fifo-$kind" "$pair/patched.bin" &
    launcher=$!
    sleep 30 >"$scratch/fifo-$kind" &
    writer=$!
    tries=0
    until tr '\0' ' ' <"/proc/$writer/cmdline" | grep -q '^sleep '; do
        tries=$((tries + 1))
        [ "$tries" -lt 300 ] || fail "bvex ($kind) did not open the FIFO"
        sleep 0.1
    done
    child=$(grep -l "^PPid:[[:space:]]*$launcher\$" /proc/[0-9]*/status 2>/dev/null || true)
    if [ "$kind" = native ]; then
        [ "$(readlink "${child%/status}/exe")" = "$project/node_modules/@bvex/linux-x64/bvex" ] ||
            fail "npx bvex did not run the native bvex: its child is $child"
    else
        [ -z "$child" ] || fail "bvex.wasm ran in a child process: $child"
    fi
    status=0
    kill -TERM "$launcher"
    wait "$launcher" 2>/dev/null || status=$?
    [ "$status" = 143 ] || fail "bvex ($kind) killed by SIGTERM ended with status $status"
    # shellcheck disable=SC2016 # expanded by the inner shell
    if timeout 1 sh -c ': >"$1"' sh "$scratch/fifo-$kind" 2>/dev/null; then
        fail "bvex ($kind) was left running after SIGTERM"
    fi
    kill "$writer"
    wait "$writer" 2>/dev/null || true
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
