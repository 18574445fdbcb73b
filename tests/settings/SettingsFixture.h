#pragma once

#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Settings as they stand when the process starts and the start-up path has cleared the list.
inline void resetSettings() {
    modGlobals::PasswordOK = false;
    modGlobals::AdminPassword.clear();
    modGlobals::StartTime.clear();
    modGlobals::EndTime.clear();
    modGlobals::ClosedPorts.clear();
    modGlobals::LastPortIndex = -1;
    modGlobals::AlarmRaised = false;
}

inline void setPorts(const std::vector<std::string>& ports) {
    modGlobals::ClosedPorts = ports;
    modGlobals::LastPortIndex = static_cast<int32_t>(ports.size()) - 1;
}

// The ports in memory, 0..LastPortIndex.
inline std::vector<std::string> listedPorts() {
    std::vector<std::string> ports;
    for (int32_t i = 0; i <= modGlobals::LastPortIndex; ++i) {
        ports.push_back(modGlobals::ClosedPorts.at(static_cast<size_t>(i)));
    }
    return ports;
}

// Each test runs with the program's directory in a fresh temporary directory and the real
// file system and profile functions of the build.
class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() : files_(dir_.str()), useFiles_(files_), useProfile_(systemProfileFile()) { resetSettings(); }
    ~SettingsTest() override { resetSettings(); }

    std::string settingsPath() const { return dir_.file("settings.ini"); }
    std::string readRaw(const char* section, const std::string& plainKey) const {
        return VtkModule::ReadIni(settingsPath(), section, VtkModule::Encrypt(plainKey, modGlobals::RotationCount));
    }
    void writeRaw(const char* section, const std::string& plainKey, const std::string& plainValue) const {
        VtkModule::WriteIni(settingsPath(), section, VtkModule::Encrypt(plainKey, modGlobals::RotationCount),
                            VtkModule::Encrypt(plainValue, modGlobals::RotationCount));
    }

    TempDir dir_;
    RedirectedFileSystem files_;
    platform::ScopedInstall<FileSystem> useFiles_;
    platform::ScopedInstall<ProfileFile> useProfile_;
};
