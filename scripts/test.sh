#!/usr/bin/env bash
# Builds the three presets (linux, windows, asan) and runs all their tests. On a new machine this is
# the whole set-up: it installs what it needs first. Needs root (packages; later, network namespaces).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Wine makes its prefix on the first start, which takes tens of seconds; do it before any test runs.
export WINEDEBUG=-all
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w || true
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows asan)
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
