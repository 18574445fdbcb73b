#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text of an INI (profile) file read and changed as the Windows profile functions do, so that
// a settings file moves freely between the Windows and the Linux build:
// - lines end in CR LF, CR or LF; a UTF-8 byte-order mark at the start is passed over;
// - "[name]" opens a section (text after the ']' is ignored); "key=value" is an entry, a line with no
//   '=' is a key with an empty value; a line starting with ';' is a comment; entries before the first
//   section belong to none;
// - sections and keys match without regard to ASCII case, the first match wins;
// - blanks (space, tab, VT, FF, Ctrl-Z) around names and values are stripped; on reading, one pair
//   of enclosing quotes (" or ') is stripped after the blanks;
// - a new key goes at the end of its section, a new section at the end of the file, and every line
//   is written back ending in CR LF.
namespace ProfileText {

// The value of key in section, or nothing when the section or the key is absent.
std::optional<std::string> read(std::string_view text, std::string_view section, std::string_view key);

// The file text after setting key in section to value, or nothing when the names or the value could
// not be written without changing the file's structure (an empty name; a line break or NUL anywhere;
// ']' in the section; '=' in the key or ';' or '[' at its start).
std::optional<std::string> write(std::string_view text, std::string_view section, std::string_view key,
                                 std::string_view value);

// The blanks the profile functions strip around names and values.
bool isBlank(char c);

} // namespace ProfileText
