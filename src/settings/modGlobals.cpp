#include "settings/modGlobals.h"

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "settings/ProfileText.h"
#include "settings/VtkModule.h"

#include <cstdio>

namespace modGlobals {
namespace {

constexpr const char* Setup = "SETUP";
constexpr const char* Ports = "PORTS";
constexpr const char* NewFileSuffix = ".new";

std::string settingsPath() {
    return VtkModule::AppPath() + SettingsFileName;
}

std::string readSetting(const std::string& path, const char* section, const std::string& key) {
    return VtkModule::Decrypt(VtkModule::ReadIni(path, section, VtkModule::Encrypt(key, RotationCount)), RotationCount);
}

std::string asciiLower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// The profile readers strip blanks and one pair of quotes around a value; enclosing a value that
// begins or ends with one in quotes makes it read back exactly as written.
std::string protectEnds(const std::string& value) {
    if (value.empty()) {
        return value;
    }
    const char first = value.front();
    const char last = value.back();
    if (ProfileText::isBlank(first) || isQuote(first) || ProfileText::isBlank(last) || isQuote(last)) {
        return '"' + value + '"';
    }
    return value;
}

void discard(const std::string& path) {
    if (VtkModule::FileExists(path)) {
        FileSystem& fs = platform::get<FileSystem>();
        fs.setAttributesNormal(path);
        fs.deleteFile(path);
    }
}

} // namespace

std::string PortKey(int index) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", index);
    return std::string("OP_") + digits;
}

void LoadSettings() {
    const std::string path = settingsPath();
    AdminPassword = readSetting(path, Setup, "PASSWORD");
    StartTime = readSetting(path, Setup, "START");
    EndTime = readSetting(path, Setup, "END");
    AlarmRaised = asciiLower(readSetting(path, Setup, "ALARM")) == "true";
    for (int i = 0;; ++i) {
        std::string entry = readSetting(path, Ports, PortKey(i));
        if (entry.empty()) {
            break;
        }
        ClosedPorts.resize(static_cast<size_t>(i) + 1);
        ClosedPorts[static_cast<size_t>(i)] = std::move(entry);
        LastPortIndex = i;
    }
}

void SaveSettings() {
    try {
        const std::string path = settingsPath();
        const std::string fresh = path + NewFileSuffix;
        FileSystem& fs = platform::get<FileSystem>();
        discard(fresh); // left behind by a save that was cut short
        // The profile writer would create it open to every user; made first, it stays as closed as
        // the file it replaces. Writing into remains that could not be removed would give a file
        // that is neither old nor new, so an existing file fails this too.
        if (!fs.createReplacement(fresh, path)) {
            return;
        }

        bool complete = true;
        const auto put = [&](const char* section, const std::string& key, const std::string& value) {
            const std::string scrambledKey = VtkModule::Encrypt(key, RotationCount);
            const std::string scrambledValue = protectEnds(VtkModule::Encrypt(value, RotationCount));
            complete = VtkModule::WriteIni(fresh, section, scrambledKey, scrambledValue) != 0 && complete;
        };
        put(Setup, "PASSWORD", AdminPassword);
        put(Setup, "START", StartTime);
        put(Setup, "END", EndTime);
        put(Setup, "ALARM", AlarmRaised ? "True" : "False");
        for (int32_t i = 0; i <= LastPortIndex; ++i) {
            if (static_cast<size_t>(i) < ClosedPorts.size()) {
                put(Ports, PortKey(i), ClosedPorts[static_cast<size_t>(i)]);
            }
        }
        if (!complete) {
            discard(fresh);
            return;
        }
        if (VtkModule::FileExists(path)) {
            fs.setAttributesNormal(path); // a read-only or hidden file is replaced all the same
        }
        if (!fs.replaceFile(fresh, path)) {
            discard(fresh);
        }
    } catch (...) {
        // Saving never reports: the settings in memory stay in force for the rest of the run.
    }
}

} // namespace modGlobals
