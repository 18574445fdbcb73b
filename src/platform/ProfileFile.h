#pragma once

#include <cstdint>
#include <string>

// Reading and writing single values of an INI (profile) file, as GetPrivateProfileStringA and
// WritePrivateProfileStringA do on Windows.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;

    // Copies the value (or `fallback` when the file, section or key is missing) into buffer, cut to
    // size - 1 bytes and NUL-terminated, and returns the number of bytes copied.
    virtual uint32_t getPrivateProfileString(const std::string& section, const std::string& key,
                                             const std::string& fallback, char* buffer, uint32_t size,
                                             const std::string& path) = 0;
    // Sets key in section to value, creating the file and the section when needed. False on failure.
    virtual bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                           const std::string& path) = 0;
};

ProfileFile& systemProfileFile();
