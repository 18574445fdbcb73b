#include "platform/ClockWatch.h"
#include "platform/linux/SystemZone.h"
#include "platform/linux/TimeChangeTimer.h"
#include "platform/linux/ZoneFiles.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "support/SystemClock.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

// The Linux clock watch against the real clock: the test sets the system time to its own current value,
// the only change of the clock a test may make on a shared machine (needs root); and against a zone file
// of the test's own standing in for the machine's.
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

namespace {

// One watched run: a change of the zone, then a zone whose daylight-saving time begins a few seconds
// later. False when another program set the machine's clock meanwhile, which the watch hears as well.
bool watchedZoneRun(ZoneFiles& zone, std::vector<Heard>& expected) {
    heardByZoneWindow.clear();
    zone.replaceWith("Etc/GMT-3");
    systemZone().useFile(zone.path());
    TimeChangeTimer others;
    EXPECT_EQ(others.open(), 0);
    ClockWatch& watch = systemClockWatch();
    const uintptr_t token = watch.SetWindowProc(ZoneWindow, zoneProcedure);
    EXPECT_NE(token, 0u);
    const Heard change{ZoneWindow, TimeChangeMessage, 0, 0, true};

    zone.replaceWith("Etc/GMT+5");
    EXPECT_TRUE(QTest::qWaitFor([] { return !heardByZoneWindow.empty(); }));
    EXPECT_TRUE(clockIsAt(-5)) << "heard with the new zone in use";
    QTest::qWait(700); // the zone looked at again: nothing more to hear
    expected = {change};
    const size_t afterChange = heardByZoneWindow.size();

    // Putting the zone in place is a change of the zone; its transition is none.
    const std::time_t transition = std::time(nullptr) + 3;
    EXPECT_EQ(zone.replaceWithDaylightFrom(transition), "");
    EXPECT_TRUE(QTest::qWaitFor([afterChange] { return heardByZoneWindow.size() > afterChange; }));
    EXPECT_LT(std::time(nullptr), transition) << "the machine was too slow to see the zone before its transition";
    EXPECT_TRUE(clockIsAt(0));
    EXPECT_TRUE(QTest::qWaitFor([] { return clockIsAt(1); }, 10000)) << "the transition never came";
    QTest::qWait(700);
    expected.push_back(change);

    watch.RestoreWindowProc(ZoneWindow, token);
    systemZone().useFile(SystemZone::MachineZoneFile);
    return !others.takeChange();
}

} // namespace

TEST(QtClockWatch, AChangeOfTheZoneIsHeardOnceFromTheEventLoopADaylightSavingTransitionIsNot) {
    ZoneFiles zone;
    std::vector<Heard> expected;
    bool undisturbed = false;
    for (int run = 0; run < 5 && !undisturbed && !HasFailure(); ++run) {
        undisturbed = watchedZoneRun(zone, expected);
    }
    ASSERT_TRUE(undisturbed) << "the machine's clock was set during every run";
    EXPECT_EQ(heardByZoneWindow, expected);
}
