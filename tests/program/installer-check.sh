#!/usr/bin/env bash
# Makes the Windows installer with cpack and runs the installer tests under Wine in a prefix made anew
# for each run (with the virtual desktop of program-check.sh), so that nothing an earlier run installed,
# registered or left behind can pass for the installer's work.
#   installer-check.sh <build folder> <package folder> <prefix folder> <InstallerWin32Test.exe> <artefact folder>
set -u
build=$1
packages=$2
prefix=$3
shift 3

rm -rf "$packages"
cpack --config "$build/CPackConfig.cmake" -B "$packages" || { echo "cpack could not make the installer" >&2; exit 1; }

# A run ended midway leaves the old prefix's processes running.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
rm -rf "$prefix"
exec "$(dirname "$0")/program-check.sh" "$prefix" "$@"
