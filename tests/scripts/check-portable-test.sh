#!/usr/bin/env bash
# scripts/check-portable.sh refuses every include that is neither the C++ standard library nor a portable
# header of the project, in each portable folder and in the platform interfaces, and passes the rest.
check=$(dirname "$0")/../../scripts/check-portable.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# Runs the check on a tree whose only source is `file` holding `line`; expects the given exit code.
expect() {
    local status=$1 file=$2 line=$3
    rm -rf "$work/src"
    mkdir -p "$work/src/$(dirname "$file")"
    printf '#pragma once\n\n%s\n' "$line" >"$work/src/$file"
    "$check" "$work/src" >/dev/null
    local got=$?
    if [ "$got" -ne "$status" ]; then
        echo "FAILED: $file with '$line' gave $got, expected $status"
        failures=$((failures + 1))
    fi
}

# Each foreign include in turn, in each portable folder in turn.
files=(core/A.cpp settings/A.h admin/A.cpp tray/deeper/A.h service/A.cpp platform/Seam.h)
n=0
for line in '#include <netinet/in.h>' '#include <arpa/inet.h>' '#include <xcb/xcb.h>' '#include <windows.h>' \
    '#include <QString>' '#include <unistd.h>' '#include <stdint.h>' '#  include <sys/socket.h>' \
    '#include "platform/win32/UniqueHandle.h"' '#include "platform/qt/QtForm.h"' \
    '#include "../platform/linux/UniqueFd.h"' '#include "gtest/gtest.h"' '#include OS_HEADER'; do
    expect 1 "${files[n++ % ${#files[@]}]}" "$line"
done
for line in '#include <vector>' '#include <cstdint>' '#include <string_view>  // why' '#include "platform/Forms.h"' \
    '#include "settings/AppError.h"' '#include "tray/deeper/Picture.h"' '#include <nlohmann/json.hpp>'; do
    expect 0 core/A.cpp "$line"
done
expect 0 platform/win32/Backend.cpp '#include <windows.h>' # backends are not portable code

# The layers, from the top: core, admin, tray, service, settings, platform.
expect 0 admin/A.cpp '#include "settings/B.h"'
expect 0 admin/A.cpp '#include "admin/B.h"'
expect 1 admin/A.cpp '#include "core/B.h"'
expect 1 settings/A.cpp '#include "tray/B.h"'
expect 1 platform/linux/Backend.cpp '#include "settings/B.h"'
expect 1 tray/A.h '#include "admin/B.h"'

[ "$failures" -eq 0 ] && echo "check-portable: every foreign include refused, every portable one passed"
exit $((failures > 0))
