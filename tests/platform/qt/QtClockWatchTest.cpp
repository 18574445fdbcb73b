#include "platform/ClockWatch.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "support/SystemClock.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

// The Linux clock watch against the real clock: the test sets the system time to its own current value,
// the only change of the clock a test may make on a shared machine (needs root).
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
std::vector<Heard> heardByFirst;
std::vector<Heard> heardBySecond;
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
