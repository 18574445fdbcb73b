#pragma once

#include "settings/CurfewWindow.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The week: for each day, optionally, windows of its own in which the closed ports are open. A day without
// its own uses the daily window (START–END) as every day did before; a day may be closed all day. A window
// that runs past midnight belongs to the day it starts on (Friday 22:00–02:00 opens Saturday 01:00).

inline constexpr int DaysInWeek = 7;
// Monday first; the names quietwirectl takes and settings.ini keeps (upper-case there).
inline constexpr std::array<const char*, DaysInWeek> DayNames = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

struct OpenWindow {
    TimeOfDay start;
    TimeOfDay end; // both included; equal bounds: the whole day
    bool operator==(const OpenWindow&) const = default;
};

struct DayRule {
    enum class Kind { Daily, Closed, Own };
    Kind kind = Kind::Daily;
    std::vector<OpenWindow> windows{}; // Own: in order of their start
    bool operator==(const DayRule&) const = default;
};

// A day's rule as settings.ini keeps it, and as the week dialog shows it: "" (as every day), "closed", or
// "08:00:00-12:00:00,13:00:00-21:00:00". Reading takes what an administrator may type: "daily" for "",
// windows "8:00-12:00, 13:00 - 9 PM" with the dialog's time rules, blanks anywhere between.
struct DayRuleRead {
    std::optional<DayRule> rule; // nothing: refused, for the reason below
    std::string reason{};
};
DayRuleRead ReadDayRule(const std::string& text);
std::string DayRuleText(const DayRule& rule);

// The index of a day's name (mon … sun, any case), or nothing.
std::optional<int> DayNamed(const std::string& name);

// Whether the closed ports are open at the local moment given, by the week: day 0 is Monday. daily is the
// START–END window, or nothing where it cannot be read (a day that uses it is then open all day, as the
// program always took an unreadable window).
struct LocalMoment {
    int day = 0;         // 0 Monday … 6 Sunday
    int32_t seconds = 0; // of the day, as the wall clock shows it
};
bool OpenByWeek(const std::array<DayRule, DaysInWeek>& week, const std::optional<OpenWindow>& daily, LocalMoment now);

// When the week next turns the closed ports from open to closed or back, within the coming week; nothing when
// it never does (closed, or open, all week).
struct NextChange {
    int days = 0;        // from today: 0 today, 1 tomorrow …
    int32_t seconds = 0; // of that day
    bool opens = false;
};
std::optional<NextChange> NextChangeByWeek(const std::array<DayRule, DaysInWeek>& week,
                                           const std::optional<OpenWindow>& daily, LocalMoment now);
// "open until 21:00", "closed until Saturday 08:00", "closed all week".
std::string NextChangeText(bool open, const std::optional<NextChange>& next, int today);

// A week as kept (the live settings', or the enforcer's as it says them) with its daily window: each day's
// rule, one that cannot be read taken as none; the daily window, nothing where it cannot be read.
struct WeekPlan {
    std::array<DayRule, DaysInWeek> week{};
    std::optional<OpenWindow> daily{};
    bool ownDays = false; // some day has a rule of its own
};
WeekPlan PlanOf(const std::array<std::string, DaysInWeek>& days, const std::string& start, const std::string& end);
std::array<DayRule, DaysInWeek> LiveWeek();

// The local moment now by the clock, a time in the second pass over a repeated hour counted as past every
// bound in it (the first pass of a bound counts).
LocalMoment MomentNow();

// The warning a tray gives before the closed ports close: due when they are open now and close within
// minutes. Its text names the time and the entries: "Closed ports close at 22:00 (in 5 minutes)".
struct CurfewWarning {
    int weekday = 0; // of the close: one warning per close
    int32_t seconds = 0;
    std::string text{};
};
std::optional<CurfewWarning> WarningDue(const std::array<DayRule, DaysInWeek>& week,
                                        const std::optional<OpenWindow>& daily, LocalMoment now, int minutes,
                                        const std::vector<std::string>& entries);
