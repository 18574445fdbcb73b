#include "settings/SettingsFixture.h"

#include <chrono>
#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void applyA() {
    modGlobals::AdminPassword = "password A";
    modGlobals::StartTime = "08:00:00";
    modGlobals::EndTime = "17:00:00";
    modGlobals::AlarmRaised = false;
    std::vector<std::string> ports;
    for (int i = 0; i < 40; ++i) {
        ports.push_back(std::to_string(1000 + i) + ", entry of A");
    }
    setPorts(ports);
}

void applyB() {
    modGlobals::AdminPassword = "password B, longer than A";
    modGlobals::StartTime = "22:00:00";
    modGlobals::EndTime = "06:00:00";
    modGlobals::AlarmRaised = true;
    setPorts({"25", "587"});
}

class LinuxSettings : public SettingsTest {
protected:
    std::string bytesAfterSaving(void (*apply)()) {
        apply();
        modGlobals::SaveSettings();
        return readBytes(settingsPath());
    }
};

} // namespace

TEST_F(LinuxSettings, AReadOnlyFileIsReplacedAllTheSame) {
    const std::string a = bytesAfterSaving(applyA);
    ASSERT_EQ(::chmod(settingsPath().c_str(), 0444), 0);
    const std::string b = bytesAfterSaving(applyB);
    EXPECT_NE(a, b);
    resetSettings();
    modGlobals::LoadSettings();
    EXPECT_EQ(modGlobals::AdminPassword, "password B, longer than A");
    struct stat st {};
    ASSERT_EQ(::stat(settingsPath().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR) << "the new file is an ordinary writable one";
}

// A process killed at any moment of a save leaves the old file or the new one, never a part.
TEST_F(LinuxSettings, AProcessKilledDuringSavesLeavesOneWholeFile) {
    const std::string a = bytesAfterSaving(applyA);
    const std::string b = bytesAfterSaving(applyB);
    ASSERT_NE(a, b);

    // Kills land anywhere from before the first save to a few saves in, however long a save takes
    // on this machine (its syncs to the disk dominate).
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        bytesAfterSaving(i % 2 == 0 ? applyA : applyB);
    }
    const auto perSave =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started) / 5;
    std::mt19937 random(12345);
    std::uniform_int_distribution<long> delayMicros(0, 3 * perSave.count() + 500);
    int sawA = 0;
    int sawB = 0;
    for (int round = 0; round < 150; ++round) {
        writeBytes(settingsPath(), a);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) {
                (i % 2 == 0 ? applyB : applyA)();
                modGlobals::SaveSettings();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string after = readBytes(settingsPath());
        ASSERT_TRUE(after == a || after == b) << "round " << round << " left a partial file:\n" << after;
        sawA += after == a;
        sawB += after == b;
    }
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0) << "no save finished before a kill; the test proves nothing";
}
