#include "platform/Clock.h"
#include "platform/ClockWatch.h"
#include "platform/linux/SystemZone.h"
#include "platform/linux/TimeChangeTimer.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "support/Command.h"
#include "support/Done.h"
#include "support/SystemClock.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

// The Linux clock watch against the real clock: the test sets the system time to its own current value,
// the only change of the clock a test may make on a shared machine (needs root); and against a zone file
// of the test's own in place of the machine's.
namespace {

struct Heard {
    uintptr_t window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    bool onUiThread;
    bool operator==(const Heard&) const = default;
};

void PrintTo(const Heard& h, std::ostream* out) {
    *out << "{window " << h.window << ", message " << h.message << ", " << h.wParam << ", " << h.lParam
         << (h.onUiThread ? ", UI thread}" : ", another thread}");
}

constexpr uintptr_t FirstWindow = 0x1001;
constexpr uintptr_t SecondWindow = 0x1002;
constexpr uintptr_t ZoneWindow = 0x1003;
std::vector<Heard> heardByFirst;
std::vector<Heard> heardBySecond;
std::vector<Heard> heardByZoneWindow;
uintptr_t firstToken = 0;

Heard heard(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return {window, message, wParam, lParam, QThread::currentThread() == QCoreApplication::instance()->thread()};
}

// Restores its own watch on the first change it hears, as the program does when it ends while its
// warning about that change is still open.
intptr_t firstProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    heardByFirst.push_back(heard(window, message, wParam, lParam));
    systemClockWatch().RestoreWindowProc(window, firstToken);
    return 0;
}

intptr_t secondProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    heardBySecond.push_back(heard(window, message, wParam, lParam));
    return 0;
}

intptr_t zoneProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    heardByZoneWindow.push_back(heard(window, message, wParam, lParam));
    return 0;
}

// Whether the clock tells the time of day `hours` east of UTC.
bool clockIsAt(int hours) {
    const std::time_t t = std::time(nullptr) + hours * 3600;
    const int32_t answer = systemClock().localSecondsOfDay();
    return answer == t % 86400 || answer == (t + 1) % 86400;
}

// As root replaces /etc/localtime: a new file with the named zone moved over the test's own zone file.
void replaceZone(const TempDir& dir, const std::string& zone) {
    writeBytes(dir.file("new"), readBytes("/usr/share/zoneinfo/" + zone));
    std::filesystem::rename(dir.file("new"), dir.file("localtime"));
}

// The same with a zone at UTC whose daylight-saving time begins at `at`, made with zic.
void replaceZoneWithDaylightFrom(const TempDir& dir, std::time_t at) {
    char rule[64];
    std::strftime(rule, sizeof rule, "%Y only - %b %d %H:%M:%Su 1:00 -\n", std::gmtime(&at));
    writeBytes(dir.file("zone"),
               std::string("Rule T 2000 only - Jan 1 0:00u 0 -\nRule T ") + rule + "Zone Test 0:00 T XST/XDT\n");
    std::string output;
    runCommand({"/usr/sbin/zic", "-d", dir.str(), dir.file("zone")}, output);
    std::filesystem::rename(dir.file("Test"), dir.file("localtime"));
}

} // namespace

TEST(QtClockWatch, EachSettingOfTheClockIsHeardOnceFromTheEventLoopUntilTheWatchIsRestored) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to set the clock";
    }
    ClockWatch& watch = systemClockWatch();
    firstToken = watch.SetWindowProc(FirstWindow, firstProcedure);
    const uintptr_t secondToken = watch.SetWindowProc(SecondWindow, secondProcedure);
    ASSERT_NE(firstToken, 0u);
    ASSERT_NE(secondToken, 0u);
    EXPECT_EQ(watch.SetWindowProc(SecondWindow, secondProcedure), 0u) << "one watch per window";

    const int error = setClockToItself();
    if (error == EPERM) {
        watch.RestoreWindowProc(FirstWindow, firstToken);
        watch.RestoreWindowProc(SecondWindow, secondToken);
        GTEST_SKIP() << "no CAP_SYS_TIME to set the clock";
    }
    ASSERT_EQ(error, 0) << std::strerror(error);
    ASSERT_TRUE(QTest::qWaitFor([] { return !heardByFirst.empty() && !heardBySecond.empty(); }));
    QCoreApplication::processEvents();
    const Heard change{SecondWindow, TimeChangeMessage, 0, 0, true};
    EXPECT_EQ(heardBySecond, std::vector<Heard>{change});

    ASSERT_EQ(setClockToItself(), 0);
    ASSERT_TRUE(QTest::qWaitFor([] { return heardBySecond.size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(heardBySecond, (std::vector<Heard>{change, change})) << "heard again once armed again";
    EXPECT_EQ(heardByFirst, (std::vector<Heard>{{FirstWindow, TimeChangeMessage, 0, 0, true}}))
        << "nothing reaches a procedure once its watch is restored";
    watch.RestoreWindowProc(SecondWindow, secondToken);
}

TEST(QtClockWatch, AChangeOfTheZonesRulesIsHeardOnceWithTheNewZoneInUseADaylightSavingTransitionIsNot) {
    const TempDir dir;
    replaceZone(dir, "Etc/GMT-3");
    systemZone().useFile(dir.file("localtime"));
    TimeChangeTimer others; // another program setting the clock meanwhile would be heard as well
    ASSERT_TRUE(done(others.open()));
    const uintptr_t token = systemClockWatch().SetWindowProc(ZoneWindow, zoneProcedure);
    const auto heardAfter = [](size_t changes) {
        EXPECT_TRUE(QTest::qWaitFor([changes] { return heardByZoneWindow.size() >= changes; }));
    };

    replaceZone(dir, "Etc/GMT+5");
    heardAfter(1);
    EXPECT_TRUE(clockIsAt(-5)) << "heard with the new zone in use";
    replaceZone(dir, "Etc/GMT+5"); // a new file, the same rules
    QTest::qWait(700);
    writeBytes(dir.file("localtime"), readBytes("/usr/share/zoneinfo/Etc/GMT-7")); // same inode, likely same second
    heardAfter(2);
    EXPECT_TRUE(clockIsAt(7));

    // Putting it in place is a change of the zone; its daylight-saving transition is none.
    const std::time_t transition = std::time(nullptr) + 3;
    replaceZoneWithDaylightFrom(dir, transition);
    heardAfter(3);
    EXPECT_TRUE(std::time(nullptr) < transition && clockIsAt(0)) << "too slow to see the zone before its transition";
    EXPECT_TRUE(QTest::qWaitFor([] { return clockIsAt(1); }, 10000)) << "the transition never came";
    QTest::qWait(700);
    systemClockWatch().RestoreWindowProc(ZoneWindow, token);
    systemZone().useFile(SystemZone::MachineZoneFile);
    if (others.takeChange()) {
        GTEST_SKIP() << "another program set the machine's clock during the test";
    }
    const Heard change{ZoneWindow, TimeChangeMessage, 0, 0, true};
    EXPECT_EQ(heardByZoneWindow, (std::vector<Heard>{change, change, change}));
}

// The zone is looked at when another timer (the tick) wakes the loop; that timer's handler still runs
// wholly under the zone it began in, and the next under the new one only once the change was heard.
TEST(QtClockWatch, NoOtherTimerRunsUnderANewZoneBeforeTheChangeIsHeard) {
    const TempDir dir;
    replaceZone(dir, "Etc/GMT-3");
    systemZone().useFile(dir.file("localtime"));
    heardByZoneWindow.clear();
    const uintptr_t token = systemClockWatch().SetWindowProc(ZoneWindow, zoneProcedure);
    int ticksUnderNewZone = 0;
    int ticksUnheard = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        ticksUnderNewZone += clockIsAt(-5);
        ticksUnheard += clockIsAt(-5) && heardByZoneWindow.empty();
    });
    tick.start(20);
    QTest::qWait(700);
    replaceZone(dir, "Etc/GMT+5");
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticksUnderNewZone >= 3; }));
    tick.stop();
    systemClockWatch().RestoreWindowProc(ZoneWindow, token);
    systemZone().useFile(SystemZone::MachineZoneFile);
    EXPECT_EQ(heardByZoneWindow.size(), 1u);
    EXPECT_EQ(ticksUnheard, 0) << "a tick ran under the new zone before its change was heard";
    heardByZoneWindow.clear();
}
