#!/bin/sh
# Starts or stops the Wine session the Windows tests run in, for the prefix in $WINEPREFIX
# (made on first use): one wineserver kept up for the whole run, so that no test pays for
# Wine's start-up, and stopped with everything it runs at the end. Where the machine has
# memory as a folder (/dev/shm), the session's TEMP, where the tests make their scratch
# files, is a folder there: it reads the holes of the 4 GiB sparse pair in a second, where
# a disk's file system first fills the page cache with 8 GiB of zeros.
# Usage: wine_session.sh start|stop WINE WINESERVER
set -eu
step=$1 wine=$2 wineserver=$3
case $step in
    start)
        mkdir -p "$WINEPREFIX"
        # A server left from a run that was cut short is replaced. Wine's own processes
        # must not hold the test's output open, so they write to a log instead.
        "$wineserver" -k >/dev/null 2>&1 || true
        "$wineserver" -w >/dev/null 2>&1 || true
        "$wineserver" -p </dev/null >/dev/null 2>&1
        log=$WINEPREFIX/session.log
        if ! "$wine" wineboot.exe --init </dev/null >"$log" 2>&1; then
            cat "$log"
            exit 1
        fi
        if [ -d /dev/shm ] && [ -w /dev/shm ]; then
            temp=$(mktemp -d /dev/shm/bvex-wine-XXXXXX)
            echo "$temp" >"$WINEPREFIX/memory-temp"
            for name in TEMP TMP; do
                "$wine" reg add 'HKCU\Environment' /v "$name" /d "Z:$(echo "$temp" | sed 's|/|\\|g')" \
                    /f </dev/null >>"$log" 2>&1
            done
        fi
        ;;
    stop)
        "$wineserver" -k >/dev/null 2>&1 || true
        if [ -f "$WINEPREFIX/memory-temp" ]; then
            rm -rf "$(cat "$WINEPREFIX/memory-temp")" "$WINEPREFIX/memory-temp"
        fi
        ;;
    *)
        echo "usage: $0 start|stop WINE WINESERVER" >&2
        exit 2
        ;;
esac
