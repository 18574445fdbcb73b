#!/usr/bin/env bash
# Runs the service tests under Wine in a prefix of their own (made on the first run, which takes tens
# of seconds), so that the service they register, start and remove never reaches the service manager
# of the prefix that the other tests and people use.
#   service-check.sh <prefix folder> <Win32ServiceControlTest.exe> [test arguments]
set -u
export WINEPREFIX=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wine64 "$@"
status=$?
# The prefix's service manager would otherwise outlive the test.
/usr/lib/wine/wineserver -k 2>/dev/null
exit $status
