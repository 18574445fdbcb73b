#!/usr/bin/env bash
# Builds the Linux program and runs it in the foreground: with its tray icon when a display is
# reachable, headless (enforcing, nothing shown) otherwise. Ctrl+C ends it as the Exit command would.
# Its settings.ini is build/linux/settings.ini. Closing connections needs root or CAP_NET_ADMIN.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target quietwire
exec build/linux/quietwire "$@"
