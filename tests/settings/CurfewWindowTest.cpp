#include "settings/CurfewWindow.h"
#include "fakes/FakeClock.h"
#include "platform/Platform.h"
#include "settings/AppError.h"

#include <gtest/gtest.h>

namespace {

TimeOfDay at(int h, int m, int s = 0) {
    return TimeOfDay{h * 3600 + m * 60 + s};
}

class CurfewWindow : public ::testing::Test {
protected:
    bool inWindowAt(TimeOfDay start, TimeOfDay end, TimeOfDay now) {
        clock_.now = now.seconds;
        return IsInWindow(start, end);
    }

    FakeClock clock_;
    platform::ScopedInstall<Clock> useClock_{clock_};
};

} // namespace

TEST_F(CurfewWindow, BoundsAreInsideAndAStartAfterTheEndRunsAcrossMidnight) {
    struct Case {
        TimeOfDay start, end, now;
        bool open;
    };
    const Case cases[] = {
        {at(8, 0), at(17, 0), at(7, 59, 59), false},    {at(8, 0), at(17, 0), at(8, 0), true},
        {at(8, 0), at(17, 0), at(17, 0), true},         {at(8, 0), at(17, 0), at(17, 0, 1), false},
        {at(22, 0), at(6, 0), at(23, 30), true},        {at(22, 0), at(6, 0), at(0, 0), true},
        {at(22, 0), at(6, 0), at(6, 0), true},          {at(22, 0), at(6, 0), at(6, 0, 1), false},
        {at(22, 0), at(6, 0), at(12, 0), false},        {at(22, 0), at(6, 0), at(21, 59, 59), false},
        {at(0, 0), at(23, 59), at(23, 59, 1), false},   {at(0, 0), at(23, 59), at(23, 59), true},
        {at(8, 0, 30), at(17, 0), at(8, 0, 29), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(inWindowAt(c.start, c.end, c.now), c.open)
            << FormatLongTime(c.start) << "-" << FormatLongTime(c.end) << " at " << FormatLongTime(c.now);
    }
}

TEST_F(CurfewWindow, EqualBoundsAreOpenAllDay) {
    for (int32_t s = 0; s < 86400; s += 61) {
        EXPECT_TRUE(inWindowAt(at(9, 0), at(9, 0), TimeOfDay{s})) << s;
    }
    EXPECT_TRUE(inWindowAt(at(0, 0), at(0, 0), at(23, 59, 59)));
}

TEST_F(CurfewWindow, TheClockIsReadOncePerQuestion) {
    inWindowAt(at(8, 0), at(17, 0), at(12, 0));
    EXPECT_EQ(clock_.reads, 1);
}

TEST(ParseTime, ReadsTheFormsAnAdministratorTypes) {
    EXPECT_EQ(ParseTime("21:00"), at(21, 0));
    EXPECT_EQ(ParseTime("21:00:00"), at(21, 0));
    EXPECT_EQ(ParseTime("7:30"), at(7, 30));
    EXPECT_EQ(ParseTime("07:30:15"), at(7, 30, 15));
    EXPECT_EQ(ParseTime("  22:00  "), at(22, 0));
    EXPECT_EQ(ParseTime("0:00"), at(0, 0));
    EXPECT_EQ(ParseTime("23:59:59"), at(23, 59, 59));
}

TEST(ParseTime, ReadsTwelveHourTimes) {
    EXPECT_EQ(ParseTime("9:00 PM"), at(21, 0));
    EXPECT_EQ(ParseTime("9:00:30 pm"), at(21, 0, 30));
    EXPECT_EQ(ParseTime("9 PM"), at(21, 0));
    EXPECT_EQ(ParseTime("9:15AM"), at(9, 15));
    EXPECT_EQ(ParseTime("12:00 AM"), at(0, 0));
    EXPECT_EQ(ParseTime("12:30 PM"), at(12, 30));
    EXPECT_EQ(ParseTime("11:59:59 p"), at(23, 59, 59));
}

TEST(ParseTime, TakesOnlyTheTimeOfADateAndTime) {
    EXPECT_EQ(ParseTime("2024-01-15 07:30"), at(7, 30));
    EXPECT_EQ(ParseTime("1/15/2024 9:00:00 PM"), at(21, 0));
    EXPECT_EQ(ParseTime("15.01.2024 21:00"), at(21, 0));
    EXPECT_EQ(ParseTime("2024/02/29 06:00:00"), at(6, 0));
    EXPECT_EQ(ParseTime("2024-01-15"), at(0, 0)) << "a date alone is its midnight";
}

TEST(ParseTime, RefusesWhatIsNotATimeWithATypeMismatch) {
    for (const char* bad : {"",
                            "   ",
                            "24:00",
                            "23:60",
                            "12:00:60",
                            "abc",
                            "7",
                            "7.30",
                            "13:00 PM",
                            "0:30 AM",
                            "12:",
                            ":30",
                            "12:30 XM",
                            "12:30 PMX",
                            "12:30 extra",
                            "123:00",
                            "2023-02-29 10:00",
                            "1/32/2024 10:00",
                            "2024-01-15 25:00",
                            "-1:00"}) {
        try {
            ParseTime(bad);
            ADD_FAILURE() << "'" << bad << "' was read as a time";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), ErrorNumber::TypeMismatch) << bad;
        }
    }
}

TEST(FormatLongTime, WritesHoursMinutesAndSecondsThatReadBack) {
    EXPECT_EQ(FormatLongTime(at(7, 30)), "07:30:00");
    EXPECT_EQ(FormatLongTime(at(22, 0)), "22:00:00");
    EXPECT_EQ(FormatLongTime(at(23, 59, 59)), "23:59:59");
    for (int32_t s = 0; s < 86400; s += 37) {
        EXPECT_EQ(ParseTime(FormatLongTime(TimeOfDay{s})).seconds, s);
    }
}
