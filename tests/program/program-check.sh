#!/usr/bin/env bash
# Runs the Windows program's tests under Wine in a prefix of their own, made on the first run (which
# takes tens of seconds) with a virtual desktop of 800x600 as its default desktop, so that everything
# the tests start, the service included, has a taskbar, and nothing they register reaches the prefix
# that other tests and people use. Runs on the X server it is started under (xvfb-run). The tests ask
# for photographs of the desktop by leaving <name>.request in $QW_PHOTO_REQUESTS; they are kept as
# <artefact folder>/<name>.png.
#   program-check.sh <prefix folder> <ProgramWin32Test.exe> <artefact folder>
set -u
export WINEPREFIX=$1
tests=$2
artefacts=$3
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/.quietwire-desktop" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null &&
        "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null ||
        { echo "cannot make the Wine prefix $WINEPREFIX" >&2; exit 1; }
    /usr/lib/wine/wineserver -w
    touch "$WINEPREFIX/.quietwire-desktop"
fi
# Wine's own fonts, so that the program's forms are drawn in Tahoma as on Windows.
"$(dirname "$0")/../../cmake/wine-prefix.sh"

# A run ended midway (by ctest's timeout) leaves the prefix's processes tied to an X server that is gone.
/usr/lib/wine/wineserver -k 2>/dev/null
mkdir -p "$artefacts"
requests=$(mktemp -d)
trap 'rm -rf "$requests"' EXIT
export QW_PHOTO_REQUESTS="Z:$requests"

"$wine" "$tests" &
run=$!
unphotographed=0
while kill -0 "$run" 2>/dev/null; do
    for request in "$requests"/*.request; do
        [ -e "$request" ] || continue
        picture="$artefacts/$(basename "$request" .request).png"
        if import -window root "$picture"; then
            echo "photograph of the Wine desktop: $picture"
        else
            unphotographed=1
        fi
        rm -f "$request"
    done
    sleep 0.1
done
wait "$run"
status=$?
# The prefix's desktop and service manager would otherwise outlive the tests.
/usr/lib/wine/wineserver -k 2>/dev/null
if [ "$unphotographed" != 0 ]; then
    echo "a photograph could not be taken (ImageMagick's import)" >&2
    exit 1
fi
exit $status
