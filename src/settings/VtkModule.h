#pragma once

#include <cstdint>
#include <string>

// The small shared routines beneath the settings: the scrambler, the program directory, single INI
// values and file tests. Texts are byte strings (the ANSI code page on Windows, UTF-8 on Linux).
namespace VtkModule {

// Moves each byte EncryptNumber steps along the ring of codes 32..255 (255 is followed by 32).
// A negative number returns text unchanged; 32767 fails with error 10 from "Crypter".
std::string Encrypt(const std::string& text, int16_t EncryptNumber);
// Moves each byte back; codes 0..31 never come back. Also fails for texts over 32767 bytes.
std::string Decrypt(const std::string& text, int16_t DecryptNumber);

// The folder of the program's own files (settings.ini), always ending in the path separator: the
// program's directory, unless the build installs the program with its files elsewhere.
std::string AppPath();
// The folder of the program's documentation (readme.txt), likewise.
std::string DocPath();
// The value of key in section of the file, cut to 2047 bytes; empty when anything is missing.
std::string ReadIni(const std::string& path, const std::string& section, const std::string& key);
// Sets one value through the profile writer. Non-zero on success, 0 on failure.
int32_t WriteIni(const std::string& path, const std::string& section, const std::string& key, const std::string& value);
// True for an existing file; a directory is not a file. Leaves the current directory changed when
// path is a directory (the test is made by entering it).
bool FileExists(const std::string& path);
// The text with the letters A to Z made lower case (the settings' and switches' comparisons ignore
// case in ASCII only).
std::string LCase(std::string text);
// True when path can be made the current directory, which it then stays.
bool DirExists(const std::string& path);

} // namespace VtkModule
