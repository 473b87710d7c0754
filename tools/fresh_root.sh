#!/usr/bin/env bash
# The README's own two commands, run as a newcomer runs them: as root, in a fresh, minimal
# root of a Debian release (debootstrap --variant=minbase), which has nothing installed but
# what the commands install. The sources are the source tarball, which the build command
# unpacks; it must print the README's sample report, and then the test command must pass.
# The root has /proc but no /dev/pts, like a bare chroot, so the suite's probes for what a
# system lacks are tried as well.
#
# Usage: tools/fresh_root.sh [SUITE [TARBALL]]
#   SUITE    a Debian codename or suite; by default stable, the newest release
#   TARBALL  the source tarball; by default made from HEAD, as the package preset makes it
#
# The bare root is made once and kept for a week in ${XDG_CACHE_HOME:-~/.cache}/bvex/fresh-root
# (remove that folder to free its space), with the Debian packages the commands download;
# each run works in a copy of it, removed afterwards. Needs root and debootstrap (Debian:
# debootstrap), and reaches the Debian mirror. The commands in the root must end within
# BVEX_ROOT_MINUTES minutes (20).
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

mirror=http://deb.debian.org/debian
fail() {
    echo "fresh root: $*" >&2
    exit 1
}
[[ $(id -u) == 0 ]] || fail "needs root (debootstrap and chroot)"
command -v debootstrap >/dev/null 2>&1 || fail "debootstrap not found (Debian: debootstrap)"

suite=${1:-stable}
version=$(tools/release_version.sh)
tarball=${2:-}

cache=${XDG_CACHE_HOME:-$HOME/.cache}/bvex/fresh-root
work=$(mktemp -d /tmp/bvex-fresh-root.XXXXXX)
cleanup() { rm -rf --one-file-system "$work"; }
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

if [[ -z $tarball ]]; then
    mkdir "$work/dist"
    sh packaging/source.sh "$PWD" "$work" "$version"
    tarball=$work/dist/bvex-$version.tar.gz
    [[ -f $tarball ]] || fail "no source tarball made here (see above)"
fi

# The README's commands: the first two sh blocks of its section on building from source,
# with the version the README stands for replaced by this one.
commands=$work/commands
awk -v out="$commands" -v version="$version" '
    /^### From source/ { on = 1; next }
    on && /^##/ { exit }
    on && /^```sh$/ { block++; inside = 1; next }
    inside && /^```$/ { inside = 0; if (block == 2) exit; next }
    inside { gsub(/1\.0\.0/, version); print > (out "." block) }' README.md
for block in 1 2; do
    [[ -s $commands.$block ]] || fail "the README's section From source has no command $block"
done
# The report the README shows for the sample pair, after its "$ bvex" line.
sed -n '/^\$ bvex examples\/original.bin examples\/patched.bin 8000$/,/^```$/p' README.md |
    sed '1d;$d' >"$work/expected"
[[ -s $work/expected ]] || fail "the README shows no sample report"

# The bare root, made anew once a week.
base=$cache/$suite
if [[ ! -f $base/.complete || -n $(find "$base/.complete" -mtime +6) ]]; then
    rm -rf --one-file-system "$base"
    mkdir -p "$cache"
    echo "fresh root: making a minimal Debian $suite root in $base"
    timeout 600 debootstrap --variant=minbase "$suite" "$base" "$mirror" >"$work/debootstrap.log" 2>&1 || {
        tail -n 20 "$work/debootstrap.log" >&2
        fail "debootstrap of $suite failed"
    }
    touch "$base/.complete"
fi
root=$work/root
mkdir -p "$cache/packages"

# In mount and process namespaces of their own, so that nothing stays mounted and nothing
# runs on when they end, whatever happens: /proc, and the cache of downloaded packages. Both
# commands run in one shell, in root's home, as one session would run them; the first one's
# output must end in the README's report.
release=$(sed -n 's/^PRETTY_NAME="\(.*\)"$/\1/p' "$base/etc/os-release")
run() {
    # shellcheck disable=SC2016 # expanded inside the namespaces and the root
    timeout --kill-after=10 "$((${BVEX_ROOT_MINUTES:-20} * 60))" \
        unshare --mount --pid --fork --propagation private /bin/sh -c '
            mount -t proc proc "$1/proc" &&
            mount --bind "$2" "$1/var/cache/apt/archives" &&
            exec chroot "$1" /usr/bin/env -i HOME=/root TERM=dumb \
                PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "
                    set -e
                    cd /root
                    echo \"+ \$(cat /tmp/commands.1)\"
                    . /tmp/commands.1 >/tmp/out 2>&1
                    cat /tmp/out
                    tail -n \$(wc -l </tmp/expected) /tmp/out | cmp -s - /tmp/expected || {
                        echo \"fresh root: the build command did not print the sample report\"
                        exit 1
                    }
                    echo \"+ \$(cat /tmp/commands.2)\"
                    . /tmp/commands.2"' \
            sh "$1" "$cache/packages" </dev/null >"$work/log" 2>&1
}
# The mirror can be caught mid-sync, or not be reached for a moment: that is tried once more,
# in a fresh copy, a minute later; any other failure is the commands' own.
for try in 1 2; do
    rm -rf --one-file-system "$work/root"
    cp -a "$base" "$root"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    cp "$tarball" "$root/root/bvex-$version.tar.gz"
    cp "$commands.1" "$commands.2" "$work/expected" "$root/tmp/"
    echo "fresh root: the README's commands in $release"
    run "$root" && break
    # Until the build command has ended, its output is in the root.
    if [[ -f $root/tmp/out ]] && ! grep -qxF "+ $(head -n 1 "$commands.2")" "$work/log"; then
        cat "$root/tmp/out" >>"$work/log"
    fi
    if ((try == 1)) && grep -qE '^(E: Failed to fetch|Err:[0-9]+ |E: Unable to fetch)' "$work/log"; then
        echo "fresh root: the Debian mirror failed; trying once more in a minute"
        sleep 60
        continue
    fi
    tail -n 40 "$work/log" >&2
    fail "the README's commands failed in $release (log above, last 40 lines)"
done
grep -E '^(\+ |check: |[0-9]+% tests passed)' "$work/log" || true
echo "fresh root: the README's commands work in a fresh $release"
