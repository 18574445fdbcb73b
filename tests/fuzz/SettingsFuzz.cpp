// libFuzzer target: the profile reader and writer and the settings load, on any bytes as a file.
// Besides crashes and sanitizer reports it checks two properties: a value written reads back as the
// profile rules say, and whatever settings a file gives, saving them and loading again gives the same.
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/ProfileText.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

namespace {

// Files kept in memory, so that the fuzzer runs fast and touches no disk.
class MemoryFiles final : public FileSystem, public ProfileFile {
public:
    std::map<std::string, std::string> files;

    std::string executableDirectory() override { return "/fuzz"; }
    char pathSeparator() const override { return '/'; }
    bool getFileAttributes(const std::string& path) override { return files.count(path) != 0; }
    bool setCurrentDirectory(const std::string& path) override { return path == "/fuzz"; }
    Result setAttributesNormal(const std::string& path) override { return done(files.count(path) != 0); }
    Removal removeEntry(const std::string& path) override {
        files.erase(path);
        return Removal::Gone;
    }
    Result writeReplacement(const std::string& path, const std::string&, const std::string& bytes) override {
        return done(files.emplace(path, bytes).second);
    }
    Result replaceFile(const std::string& from, const std::string& to) override {
        auto it = files.find(from);
        if (it == files.end()) {
            return done(false);
        }
        files[to] = std::move(it->second);
        files.erase(from);
        return Result::Done();
    }
    Result overwriteFile(const std::string& path, const std::string& bytes) override {
        auto it = files.find(path);
        if (it == files.end()) {
            return done(false);
        }
        it->second = bytes;
        return Result::Done();
    }
    bool canRead(const std::string& path) override { return files.count(path) != 0; }
    bool othersMayChange(const std::string&) override { return false; }
    std::optional<FileStamp> fileStamp(const std::string& path) override {
        const auto it = files.find(path);
        if (it == files.end()) {
            return std::nullopt;
        }
        return FileStamp{0, std::hash<std::string>()(it->second), it->second.size(), 0};
    }
    ResultWith<std::string> readFirstLine(const std::string& path) override {
        const auto it = files.find(path);
        return it == files.end() ? ResultWith<std::string>(Result::Failed("no such file")) : it->second;
    }
    std::string lastErrorText() override { return "no such file"; }
    static Result done(bool ok) { return ok ? Result::Done() : Result::Failed("no such file"); }
    uint32_t getPrivateProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                     char* buffer, uint32_t size, const std::string& path) override {
        auto it = files.find(path);
        std::optional<std::string> value;
        if (it != files.end()) {
            value = ProfileText::read(it->second, section, key);
        }
        const std::string& v = value ? *value : fallback;
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(v.size()), size - 1);
        std::memcpy(buffer, v.data(), n);
        buffer[n] = '\0';
        return n;
    }
    bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& path) override {
        auto changed = ProfileText::write(files[path], section, key, value);
        if (changed) {
            files[path] = std::move(*changed);
        }
        return changed.has_value();
    }
};

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && ProfileText::isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && ProfileText::isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view unquoted(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

struct Snapshot {
    std::string password, start, end;
    bool alarm;
    int32_t last;
    std::vector<std::string> ports;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot() {
    Snapshot s{modGlobals::AdminPassword, modGlobals::StartTime,     modGlobals::EndTime,
               modGlobals::AlarmRaised,   modGlobals::LastPortIndex, {}};
    for (int32_t i = 0; i <= modGlobals::LastPortIndex; ++i) {
        s.ports.push_back(modGlobals::ClosedPorts.at(static_cast<size_t>(i)));
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Names and a value taken from the input's first bytes, the rest as the file.
    const size_t cut = std::min<size_t>(size, 24);
    const std::string_view head = input.substr(0, cut);
    const std::string_view text = input.substr(cut);
    const std::string section(head.substr(0, std::min<size_t>(head.size(), 6)));
    const std::string key(head.substr(std::min<size_t>(head.size(), 6), 6));
    const std::string value(head.substr(std::min<size_t>(head.size(), 12)));

    (void)ProfileText::read(text, "SETUP", "PASSWORD");
    (void)ProfileText::read(text, section, key);
    if (const auto changed = ProfileText::write(text, section, key, value)) {
        const auto back = ProfileText::read(*changed, section, key);
        check(back.has_value(), "a written key is found");
        check(*back == unquoted(trimmed(value)), "a written value reads back stripped");
    }

    MemoryFiles memory;
    platform::ScopedInstall<FileSystem> useFiles(memory);
    platform::ScopedInstall<ProfileFile> useProfile(memory);
    memory.files["/fuzz/settings.ini"] = std::string(text);
    resetSettings();
    check(static_cast<bool>(modGlobals::LoadSettings()), "any file there loads");
    const Snapshot loaded = snapshot();
    check(static_cast<bool>(modGlobals::SaveSettings()), "loaded settings save");
    resetSettings();
    check(static_cast<bool>(modGlobals::LoadSettings()), "saved settings load");
    check(snapshot() == loaded, "saved settings load back unchanged");
    return 0;
}
