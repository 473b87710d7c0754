# shellcheck shell=sh disable=SC2034 # sets variables for the script that sources it
# Shared start of the packaging scripts, sourced with the arguments
# SOURCE_DIR BUILD_DIR VERSION [...]: sets src, build, version, dist (BUILD_DIR/dist) and
# homepage (the HOMEPAGE_URL of project() in CMakeLists.txt), and fixes everything a
# release file could take from the machine or the moment.
set -eu
src=$1
build=$2
version=$3
dist=$build/dist

# checkout: succeeds when SOURCE_DIR is the top of a git checkout (not a folder inside
# someone else's repository, such as an unpacked source tarball under a home in git).
checkout() {
    command -v git >/dev/null 2>&1 &&
        [ "$(git -C "$src" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$src" && pwd -P)" ]
}

# Time stamps come from the last commit, unless SOURCE_DATE_EPOCH is given.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! command -v git >/dev/null 2>&1; then
        echo "packaging: git not found (Debian: git): the release files take their time" \
            "stamps from the last commit; install git, or set SOURCE_DATE_EPOCH to the" \
            "time stamp in seconds since 1970" >&2
        exit 1
    fi
    if ! checkout; then
        echo "packaging: $src is not a git checkout (an unpacked source tarball?): the" \
            "release files take their time stamps from the last commit; set" \
            "SOURCE_DATE_EPOCH to the time stamp in seconds since 1970 (the commit's:" \
            "git log -1 --format=%ct in its checkout)" >&2
        exit 1
    fi
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C.UTF-8
umask 022
# Nested builds run on their own, not as part of the make that started this script.
unset MAKEFLAGS MFLAGS MAKELEVEL

# The project's home, named in the packages' metadata.
homepage=$(sed -n 's/^ *HOMEPAGE_URL "\([^"]*\)".*/\1/p' "$src/CMakeLists.txt")
if [ -z "$homepage" ]; then
    echo "packaging: CMakeLists.txt's project() gives no HOMEPAGE_URL \"...\"" >&2
    exit 1
fi
