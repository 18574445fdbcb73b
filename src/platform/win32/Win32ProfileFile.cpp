#include "platform/ProfileFile.h"

#include <windows.h>

namespace {

class Win32ProfileFile final : public ProfileFile {
public:
    uint32_t getPrivateProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                     char* buffer, uint32_t size, const std::string& path) override {
        return GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer, size, path.c_str());
    }

    bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& path) override {
        return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != 0;
    }
};

} // namespace

ProfileFile& systemProfileFile() {
    static Win32ProfileFile instance;
    return instance;
}
