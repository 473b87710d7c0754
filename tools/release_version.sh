#!/bin/sh
# Prints the version bvex is released as, the one given to project() in CMakeLists.txt,
# once the commit is fit to be released as it: the version is semantic (X.Y.Z),
# CHANGELOG.md has its dated entry (tools/release_notes.sh), and in a run of the forge's
# workflow for a tag (GITHUB_REF_TYPE=tag) that tag (GITHUB_REF_NAME) is vX.Y.Z and the
# project's HOMEPAGE_URL is the repository the workflow runs in (the wheels and npm packages
# name it, and npm's provenance must match it). Fails, saying why, otherwise. A manual run
# on a branch has no tag to check.
# Usage: release_version.sh
set -eu
root=$(dirname "$0")/..
version=$(sed -n 's/^project(bvex VERSION \([0-9]\{1,\}\.[0-9]\{1,\}\.[0-9]\{1,\}\)[ )].*/\1/p' \
    "$root/CMakeLists.txt")
if [ -z "$version" ]; then
    echo "release: CMakeLists.txt's project(bvex VERSION ...) gives no version X.Y.Z" >&2
    exit 1
fi
"$root/tools/release_notes.sh" "$version" >/dev/null
if [ "${GITHUB_REF_TYPE:-}" = tag ] && [ "${GITHUB_REF_NAME:-}" != "v$version" ]; then
    echo "release: the tag ${GITHUB_REF_NAME:-} is not v$version, the version in CMakeLists.txt" >&2
    exit 1
fi
if [ "${GITHUB_REF_TYPE:-}" = tag ]; then
    homepage=$(sed -n 's/^ *HOMEPAGE_URL "\([^"]*\)".*/\1/p' "$root/CMakeLists.txt")
    repository=${GITHUB_SERVER_URL:-}/${GITHUB_REPOSITORY:-}
    if [ "$homepage" != "$repository" ]; then
        echo "release: CMakeLists.txt's HOMEPAGE_URL \"$homepage\" is not this repository," \
            "$repository" >&2
        exit 1
    fi
fi
echo "$version"
