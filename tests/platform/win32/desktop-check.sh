#!/usr/bin/env bash
# Runs TrayDesktopCheck on Wine's virtual desktop (which has a taskbar) on the X server this script is
# started under (xvfb-run), photographs the desktop with the icon and the form, and keeps the picture.
#   desktop-check.sh <TrayDesktopCheck.exe> <artefact folder>
set -u
program=$1
artefacts=$2
mkdir -p "$artefacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=${WINEDEBUG:--all}
wine=/usr/lib/wine/wine64

"$wine" explorer /desktop=quietwire,800x600 "$program" "Z:$work/ready" "Z:$work/done" &
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
picture="$artefacts/wine-desktop.png"
import -window root "$picture"
echo "screenshot of the Wine desktop with the tray icon and a form: $picture"
touch "$work/done"
wait "$desktop"
status=$?
/usr/lib/wine/wineserver -k 2>/dev/null
exit $status
