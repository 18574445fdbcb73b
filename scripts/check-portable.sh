#!/usr/bin/env bash
# The portable folders see the operating system only through src/platform/*.h.
cd "$(dirname "$0")/../src" || exit 2
hits=$(grep -rnE '#\s*include\s*[<"](windows\.h|winsock2?\.h|iphlpapi\.h|shellapi\.h|Q[A-Z][A-Za-z]*|Qt[A-Za-z]*/|linux/|sys/[a-z_]+\.h|unistd\.h|fcntl\.h|platform/(win32|linux|qt)/)' \
    core settings admin tray service 2>/dev/null)
if [ -n "$hits" ]; then
    echo "portable code includes an OS, Qt or backend header:"
    echo "$hits"
    exit 1
fi
echo "portable folders include no OS, Qt or backend header"
