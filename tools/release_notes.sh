#!/bin/sh
# Prints the notes of a version's entry in CHANGELOG.md (or the changelog given): the lines
# under its heading, "## [VERSION] - YYYY-MM-DD", up to the next heading of that level or
# the link definitions at the end, without the blank lines around them. Fails, saying why,
# when the entry is missing, undated or empty.
# Usage: release_notes.sh VERSION [CHANGELOG]
set -eu
version=$1
changelog=${2:-$(dirname "$0")/../CHANGELOG.md}

[ -r "$changelog" ] || {
    echo "release notes: cannot read $changelog" >&2
    exit 1
}
# awk's status: 0 with the notes printed, 10 without an entry, 11 undated, 12 empty.
status=0
notes=$(awk -v version="$version" '
    /^## / || /^\[[^]]+\]: / {
        if (inside) exit
        name = $0
        if (substr(name, 1, 4) != "## [") next
        name = substr(name, 5)
        tail = substr(name, index(name, "]") + 1)
        if (substr(name, 1, index(name, "]") - 1) != version) next
        if (tail !~ /^ - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) { undated = 1; exit }
        inside = 1
        next
    }
    inside && /^[ \t]*$/ { if (printed) held = held "\n"; next }
    inside { printf "%s%s\n", held, $0; held = ""; printed = 1 }
    END { if (undated) exit 11; if (!inside) exit 10; if (!printed) exit 12 }
' "$changelog") || status=$?
case $status in
    0)
        printf '%s\n' "$notes"
        exit 0
        ;;
    10) echo "release notes: $changelog has no entry for $version" \
        "(## [$version] - YYYY-MM-DD)" >&2 ;;
    11) echo "release notes: the entry for $version in $changelog has no date" \
        "(## [$version] - YYYY-MM-DD)" >&2 ;;
    12) echo "release notes: the entry for $version in $changelog is empty" >&2 ;;
    *) echo "release notes: awk failed on $changelog" >&2 ;;
esac
exit 1
