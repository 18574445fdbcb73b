#!/usr/bin/env bash
# Builds both packages into dist/: the Debian package of the Linux build
# (quietwire_<version>_amd64.deb) and the Windows installer (quietwire-<version>-win64.exe).
# Installs what the builds need first, as the other scripts do.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in linux windows; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done
mkdir -p dist
rm -f dist/quietwire_*_amd64.deb dist/quietwire-*-win64.exe # only this version's packages in it
cpack -G DEB --config build/linux/CPackConfig.cmake -B dist
cpack -G NSIS --config build/windows/CPackConfig.cmake -B dist
rm -rf dist/_CPack_Packages # CPack's scratch folder
ls -l dist/*.deb dist/*.exe
