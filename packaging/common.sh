# shellcheck shell=sh disable=SC2034 # sets variables for the script that sources it
# Shared start of the packaging scripts, sourced with the arguments
# SOURCE_DIR BUILD_DIR VERSION [...]: sets src, build, version and dist (BUILD_DIR/dist),
# and fixes everything a release file could take from the machine or the moment.
set -eu
src=$1
build=$2
version=$3
dist=$build/dist

# Time stamps come from the last commit, unless SOURCE_DATE_EPOCH is given.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct) || {
        echo "packaging: not a git checkout: set SOURCE_DATE_EPOCH" >&2
        exit 1
    }
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C.UTF-8
umask 022
# Nested builds run on their own, not as part of the make that started this script.
unset MAKEFLAGS MFLAGS MAKELEVEL
