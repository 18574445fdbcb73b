#!/usr/bin/env bash
# Installs every Debian package that the builds and the tests use. Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev  # Linux builds; clang for the sanitizer and fuzzer build
    googletest                                      # GoogleTest sources, built by every preset
    nlohmann-json3-dev                              # JSON output of quietwirectl (header-only, every preset)
    g++-mingw-w64-x86-64                            # the Windows build
    wine64 fonts-wine                               # runs the Windows build's tests; Tahoma and Marlett
    libbenchmark-dev iproute2                       # benchmarks, and ss to compare with
    qt6-base-dev                                    # the Linux windowing (Qt 6 Widgets)
    libsystemd-dev pkgconf systemd                  # the Linux service; systemd-analyze checks its unit
    libnftables-dev nftables                        # the in-line block (nft lists the rules in its tests)
    xvfb xauth trayer xdotool                       # the tray test: an X server, a tray host, clicks
    dbus-daemon                                     # dbus-run-session: a private session bus for the tray tests
    imagemagick                                     # photographs of the Wine desktop (import)
    dpkg-dev file lintian                           # the Debian package: its dependencies (dpkg-shlibdeps
                                                    # on the programs file finds), its checks
    nsis                                            # makensis: the Windows installer
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
