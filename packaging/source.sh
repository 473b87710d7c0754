#!/bin/sh
# Makes dist/bvex-VERSION.tar.gz: the sources of the commit checked out (HEAD) in the folder
# bvex-VERSION/, as git archive gives them, with the commit's time stamps: everything the
# build and the test suite need, and nothing that needs git. Changes not committed are not
# in it. An unpacked source tarball is not a checkout, so there it is left out.
# Usage: source.sh SOURCE_DIR BUILD_DIR VERSION
# shellcheck source=packaging/common.sh
. "$(dirname "$0")/common.sh"

name=bvex-$version
if ! command -v git >/dev/null 2>&1; then
    echo "packaging: git not found (Debian: git): $name.tar.gz is made with git archive," \
        "and left out here" >&2
    exit 0
fi
if ! checkout; then
    echo "packaging: $src is not a git checkout: $name.tar.gz is made from one with git" \
        "archive, and left out here" >&2
    exit 0
fi
if ! git -C "$src" diff --quiet HEAD --; then
    echo "packaging: the working tree has changes not committed: $name.tar.gz holds HEAD" \
        "without them" >&2
fi
# The archive's file modes and line ends must not depend on the user's git settings.
work=$build/packaging/source
rm -rf "$work"
mkdir -p "$work"
git -C "$src" -c tar.umask=0022 -c core.autocrlf=false archive --format=tar \
    --prefix="$name/" --output="$work/$name.tar" HEAD
gzip -9 -n <"$work/$name.tar" >"$dist/$name.tar.gz"
