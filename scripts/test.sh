#!/usr/bin/env bash
# Builds the three presets (linux, windows, asan) and runs all their tests. On a new machine this is
# the whole set-up: it installs what it needs first. Needs root (packages; later, network namespaces).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The Wine prefix, with Wine's own fonts, before any test runs (its first start takes tens of seconds).
cmake/wine-prefix.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux windows asan)
for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
