#!/usr/bin/env bash
# Runs TrayDesktopCheck on Wine's virtual desktop (which has a taskbar) on the X server this script is
# started under (xvfb-run), photographs the desktop with the icon, its balloon and the form, and keeps
# the picture.
# Fails when the program fails (it leaves no passed file) or when no picture was taken: the picture is
# what this check is for.
#   desktop-check.sh <TrayDesktopCheck.exe> <artefact folder>
set -u
program=$1
artefacts=$2
mkdir -p "$artefacts"
picture="$artefacts/wine-desktop.png"
rm -f "$picture"
if ! command -v import >/dev/null; then
    echo "ImageMagick's import is missing (scripts/install-deps.sh installs imagemagick)" >&2
    exit 1
fi
"$(dirname "$0")/../../../cmake/wine-prefix.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=${WINEDEBUG:--all}
wine=/usr/lib/wine/wine64

"$wine" explorer /desktop=quietwire,800x600 "$program" "Z:$work/ready" "Z:$work/done" "Z:$work/passed" &
desktop=$!
for _ in $(seq 1 300); do
    [ -f "$work/ready" ] && break
    kill -0 "$desktop" 2>/dev/null || break
    sleep 0.1
done
if [ ! -f "$work/ready" ]; then
    echo "the program never got its icon and form up" >&2
    kill "$desktop" 2>/dev/null
    wait "$desktop"
    exit 1
fi
import -window root "$picture"
shot=$?
touch "$work/done"
wait "$desktop"
/usr/lib/wine/wineserver -k 2>/dev/null
if [ $shot -ne 0 ] || [ ! -s "$picture" ]; then
    echo "no screenshot of the Wine desktop: import gave $shot and $picture is missing or empty" >&2
    exit 1
fi
echo "screenshot of the Wine desktop with the tray icon, its balloon and a form: $picture"
if [ ! -f "$work/passed" ]; then
    echo "the program failed" >&2
    exit 1
fi
