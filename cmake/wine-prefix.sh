#!/usr/bin/env bash
# Makes the Wine prefix the Windows build's tests run in (once; the first start takes tens of seconds)
# and gives it Wine's own fonts. Debian's Wine 8 looks for them beside its data folder on a path it
# cannot resolve, so without links in the prefix's Fonts folder it draws forms in a wider stand-in
# for Tahoma (cutting captions short) and the caption buttons, which need Marlett, as letters.
set -u
prefix=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$prefix/system.reg" ]; then
    WINEDEBUG=-all /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
fi
fonts=$prefix/drive_c/windows/Fonts
mkdir -p "$fonts"
for font in /usr/share/wine/fonts/*; do
    [ -e "$font" ] || continue
    [ -e "$fonts/${font##*/}" ] || ln -sf "$font" "$fonts/"
done
