#!/bin/sh
# Starts or stops the Wine session the Windows tests run in, for the prefix in $WINEPREFIX
# (made on first use): one wineserver kept up for the whole run, so that no test pays for
# Wine's start-up, and stopped with everything it runs at the end.
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
        ;;
    stop)
        "$wineserver" -k >/dev/null 2>&1 || true
        ;;
    *)
        echo "usage: $0 start|stop WINE WINESERVER" >&2
        exit 2
        ;;
esac
