#include "settings/WeekSchedule.h"
#include "fakes/FakeClock.h"
#include "platform/Platform.h"
#include "settings/CurfewWindow.h"
#include "support/Settings.h"

#include <gtest/gtest.h>

namespace {

constexpr int Fri = 4;
constexpr int Sat = 5;
constexpr int Sun = 6;

int32_t at(int hours, int minutes) {
    return hours * 3600 + minutes * 60;
}

DayRule rule(const std::string& text) {
    const DayRuleRead read = ReadDayRule(text);
    EXPECT_TRUE(read.rule) << text << ": " << read.reason;
    return read.rule.value_or(DayRule{});
}

TEST(WeekSchedule, ADaysRuleIsReadAsTypedAndKeptInOneFormOverlapsAndUnreadableWindowsRefused) {
    EXPECT_EQ(DayRuleText(rule(" Daily ")), "");
    EXPECT_EQ(DayRuleText(rule("")), "");
    EXPECT_EQ(DayRuleText(rule("CLOSED")), "closed");
    EXPECT_EQ(DayRuleText(rule("13:00 - 9 PM, 8:00-12:00")), "08:00:00-12:00:00,13:00:00-21:00:00");
    EXPECT_EQ(DayRuleText(rule("22:00-02:00")), "22:00:00-02:00:00") << "across midnight";
    EXPECT_EQ(ReadDayRule("08:00-12:00,11:00-13:00").reason,
              "the windows 08:00:00-12:00:00 and 11:00:00-13:00:00 overlap");
    EXPECT_FALSE(ReadDayRule("20:00-23:00,22:00-01:00").rule) << "one past midnight counts to the day's end";
    EXPECT_FALSE(ReadDayRule("08:00-08:00,01:00-02:00").rule) << "equal bounds are the whole day";
    EXPECT_EQ(ReadDayRule("8-12").reason, "\"8-12\" is not a window: give it as HH:MM-HH:MM");
    EXPECT_FALSE(ReadDayRule("08:00-25:00").rule);
    EXPECT_FALSE(ReadDayRule("08:00-12:00,").rule);
    EXPECT_EQ(DayNamed(" Sat"), Sat);
    EXPECT_FALSE(DayNamed("saturday"));
}

TEST(WeekSchedule, EachDayFollowsItsOwnRuleAndAWindowPastMidnightBelongsToTheDayItStartsOn) {
    std::array<DayRule, DaysInWeek> week{};
    const OpenWindow daily{{at(8, 0)}, {at(21, 0)}};
    week[Fri] = rule("22:00-02:00");
    week[Sat] = rule("closed");
    week[Sun] = rule("10:00-12:00,14:00-16:00");
    for (int day = 0; day < Fri; ++day) { // the days without a rule keep to the daily window
        EXPECT_TRUE(OpenByWeek(week, daily, {day, at(8, 0)}));
        EXPECT_TRUE(OpenByWeek(week, daily, {day, at(21, 0)})) << "bounds are inside";
        EXPECT_FALSE(OpenByWeek(week, daily, {day, at(21, 0) + 1}));
    }
    EXPECT_FALSE(OpenByWeek(week, daily, {Fri, at(12, 0)}));
    EXPECT_TRUE(OpenByWeek(week, daily, {Fri, at(23, 0)}));
    EXPECT_TRUE(OpenByWeek(week, daily, {Sat, at(1, 0)})) << "Friday's window, though Saturday is closed";
    EXPECT_FALSE(OpenByWeek(week, daily, {Sat, at(2, 0) + 1}));
    EXPECT_FALSE(OpenByWeek(week, daily, {Sat, at(12, 0)}));
    EXPECT_TRUE(OpenByWeek(week, daily, {Sun, at(15, 0)}));
    EXPECT_FALSE(OpenByWeek(week, daily, {Sun, at(13, 0)}));
    EXPECT_FALSE(OpenByWeek(week, daily, {0, at(7, 0)})) << "Monday's morning is not Sunday's";

    week[Sun] = rule("daily");
    const OpenWindow overnight{{at(22, 0)}, {at(6, 0)}};
    EXPECT_FALSE(OpenByWeek(week, overnight, {Sun, at(1, 0)})) << "Saturday, closed, opens nothing on Sunday";
    EXPECT_TRUE(OpenByWeek(week, overnight, {0, at(1, 0)})) << "Sunday's daily window runs into Monday";
    EXPECT_TRUE(OpenByWeek(week, std::nullopt, {Sun, at(12, 0)})) << "an unreadable daily window leaves it open";
}

// The week through the live settings and the clock, as the tick asks.
class WeekCurfew : public ::testing::Test {
protected:
    WeekCurfew() {
        resetSettings();
        modGlobals::StartTime = "08:00:00";
        modGlobals::EndTime = "21:00:00";
    }
    ~WeekCurfew() override { resetSettings(); }
    CurfewReason at(int weekday, int32_t seconds, int32_t repeatedUntil = -1) {
        clock_.weekday = weekday;
        clock_.now = seconds;
        clock_.repeatedUntil = repeatedUntil;
        return CurfewNow();
    }
    FakeClock clock_;
    platform::ScopedInstall<Clock> useClock_{clock_};
};

TEST_F(WeekCurfew, TheTickFollowsTheWeekAndInARepeatedHourTheFirstPassOfABoundCounts) {
    EXPECT_EQ(at(Sun, ::at(7, 0)), CurfewReason::OutsideWindow) << "no day of its own: the daily window";
    modGlobals::WeekDays[Sun] = "00:00:00-01:30:00,02:30:00-04:00:00";
    modGlobals::WeekDays[Sat] = "not a rule"; // a hand-edited day keeps to the daily window
    EXPECT_EQ(at(Sat, ::at(12, 0)), CurfewReason::InsideWindow);
    EXPECT_EQ(at(Sun, ::at(1, 15)), CurfewReason::InsideWindow);
    // 01:00–02:00 again after the clock went back at 02:00: 01:30 has passed already, 02:30 not yet.
    EXPECT_EQ(at(Sun, ::at(1, 15), ::at(2, 0)), CurfewReason::OutsideWindow);
    // A bound in an hour the clock skipped takes effect at the first moment after it.
    EXPECT_EQ(at(Sun, ::at(3, 0)), CurfewReason::InsideWindow);
    modGlobals::AlarmRaised = true;
    EXPECT_EQ(at(Sun, ::at(3, 0)), CurfewReason::AlarmRaised);
}

} // namespace
