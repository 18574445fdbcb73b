#!/usr/bin/env bash
# Runs a Windows test program under Wine and hands back its exit code.
"$(dirname "$0")/wine-prefix.sh"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec /usr/lib/wine/wine64 "$@"
