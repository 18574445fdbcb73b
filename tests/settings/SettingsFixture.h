#pragma once

#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/VtkModule.h"
#include "settings/modGlobals.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
