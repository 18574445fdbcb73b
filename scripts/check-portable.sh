#!/usr/bin/env bash
# The portable folders see the operating system only through the interfaces in src/platform/*.h. They,
# and those interfaces, may include the C++ standard library, nlohmann/json and the project's own portable headers;
# anything else (<windows.h>, <netinet/in.h>, <xcb/xcb.h>, a Qt header, a backend's header) is refused.
# The folders also form layers, each including only itself and those below it (platform's backends too).
#   check-portable.sh [source folder; by default the project's src/]
cd "${1:-$(dirname "$0")/../src}" || exit 2

standard=" algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex concepts
    condition_variable coroutine deque exception execution filesystem format forward_list fstream functional
    future initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map memory
    memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex scoped_allocator
    semaphore set shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
    string_view strstream syncstream system_error thread tuple type_traits typeindex typeinfo unordered_map
    unordered_set utility valarray variant vector version
    cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef cstdint
    cstdio cstdlib cstring ctime cuchar cwchar cwctype "
# Header-only libraries as portable as the standard library.
libraries=" nlohmann/json.hpp "
own='^"((core|settings|admin|tray|service)/[A-Za-z0-9_/]+|platform/[A-Za-z0-9_]+)\.h"$'

files=()
for folder in core settings admin tray service; do
    [ -d "$folder" ] && while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$folder" -type f -print0)
done
for f in platform/*.h platform/*.cpp; do
    [ -f "$f" ] && files+=("$f")
done

refused=()
while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*//; s/[[:space:]]*(\/\/.*)?$//' <<<"$text")
    if [[ $target =~ ^\<([A-Za-z0-9_]+)\>$ && $standard =~ [[:space:]]${BASH_REMATCH[1]}[[:space:]] ]]; then
        continue
    fi
    if [[ $target =~ ^\<([A-Za-z0-9_/.]+)\>$ && $libraries =~ [[:space:]]${BASH_REMATCH[1]}[[:space:]] ]]; then
        continue
    fi
    [[ $target =~ $own ]] && continue
    refused+=("$file:$line: $target")
done < <([ ${#files[@]} -eq 0 ] || grep -HnE '^[[:space:]]*#[[:space:]]*include' "${files[@]}")

# From the top: the main window's controller, the administration, the tray icon, the service, the
# settings, the platform.
layers=(core admin tray service settings platform)
rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[i]}" = "$1" ] && echo "$i" && return
    done
    echo -1
}
upward=()
while IFS=: read -r file line text; do
    from=$(rank "${file%%/*}")
    target=$(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z]+)\/.*/\1/p' <<<"$text")
    to=$(rank "$target")
    if [ "$from" -ge 0 ] && [ "$to" -ge 0 ] && [ "$to" -lt "$from" ]; then
        upward+=("$file:$line: $target is above ${file%%/*}")
    fi
done < <(grep -rHnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' --include='*.h' --include='*.cpp' \
    "${layers[@]}" 2>/dev/null)

if [ ${#refused[@]} -gt 0 ]; then
    echo "portable code includes what is neither the C++ standard library nor a portable header of its own:"
    printf '  %s\n' "${refused[@]}"
fi
if [ ${#upward[@]} -gt 0 ]; then
    echo "an include runs up the layers (${layers[*]}, from the top):"
    printf '  %s\n' "${upward[@]}"
fi
if [ ${#refused[@]} -gt 0 ] || [ ${#upward[@]} -gt 0 ]; then
    exit 1
fi
echo "portable code includes only the C++ standard library and its own portable headers (${#files[@]} files);" \
    "every include runs down the layers"
