#include "settings/WeekSchedule.h"

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "settings/AppError.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <cctype>

namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<TimeOfDay> timeIn(const std::string& text) {
    try {
        return ParseTime(trimmed(text));
    } catch (const AppError&) {
        return std::nullopt;
    }
}

// The seconds of the day a window covers, as spans within 0..86399 (a window past midnight covers the end of
// its day here; its morning part belongs to the next day's check).
bool covers(const OpenWindow& window, int32_t seconds) {
    const int32_t start = window.start.seconds;
    const int32_t end = window.end.seconds;
    if (start == end) {
        return true; // open all day
    }
    return start < end ? seconds >= start && seconds <= end : seconds >= start;
}

// The part of yesterday's window that runs into today.
bool coversFromYesterday(const OpenWindow& window, int32_t seconds) {
    return window.start.seconds > window.end.seconds && seconds <= window.end.seconds;
}

// Two windows of one day share a moment (one running past midnight counts to the day's end).
bool overlap(const OpenWindow& a, const OpenWindow& b) {
    const auto span = [](const OpenWindow& w) {
        if (w.start.seconds == w.end.seconds) {
            return std::pair<int32_t, int32_t>{0, 86399}; // the whole day
        }
        return std::pair<int32_t, int32_t>{w.start.seconds, w.start.seconds < w.end.seconds ? w.end.seconds : 86399};
    };
    const auto [a0, a1] = span(a);
    const auto [b0, b1] = span(b);
    return a0 <= b1 && b0 <= a1;
}

} // namespace

DayRuleRead ReadDayRule(const std::string& text) {
    const std::string word = lower(trimmed(text));
    if (word.empty() || word == "daily") {
        return {DayRule{}, {}};
    }
    if (word == "closed") {
        return {DayRule{DayRule::Kind::Closed, {}}, {}};
    }
    DayRule rule{DayRule::Kind::Own, {}};
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = text.find(',', from);
        const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        const size_t dash = part.find('-');
        const std::optional<TimeOfDay> start = dash == std::string::npos ? std::nullopt : timeIn(part.substr(0, dash));
        const std::optional<TimeOfDay> end = dash == std::string::npos ? std::nullopt : timeIn(part.substr(dash + 1));
        if (!start || !end) {
            return {std::nullopt, "\"" + trimmed(part) + "\" is not a window: give it as HH:MM-HH:MM"};
        }
        rule.windows.push_back({*start, *end});
        if (comma == std::string::npos) {
            break;
        }
        from = comma + 1;
    }
    std::sort(rule.windows.begin(), rule.windows.end(),
              [](const OpenWindow& a, const OpenWindow& b) { return a.start.seconds < b.start.seconds; });
    for (size_t i = 0; i < rule.windows.size(); ++i) {
        for (size_t j = i + 1; j < rule.windows.size(); ++j) {
            if (overlap(rule.windows[i], rule.windows[j])) {
                return {std::nullopt, "the windows " + DayRuleText(DayRule{DayRule::Kind::Own, {rule.windows[i]}}) +
                                          " and " + DayRuleText(DayRule{DayRule::Kind::Own, {rule.windows[j]}}) +
                                          " overlap"};
            }
        }
    }
    return {rule, {}};
}

std::string DayRuleText(const DayRule& rule) {
    switch (rule.kind) {
    case DayRule::Kind::Daily:
        return {};
    case DayRule::Kind::Closed:
        return "closed";
    case DayRule::Kind::Own:
        break;
    }
    std::string text;
    for (const OpenWindow& window : rule.windows) {
        text += (text.empty() ? "" : ",") + FormatLongTime(window.start) + "-" + FormatLongTime(window.end);
    }
    return text;
}

std::optional<int> DayNamed(const std::string& name) {
    const std::string word = lower(trimmed(name));
    for (int day = 0; day < DaysInWeek; ++day) {
        if (word == DayNames[static_cast<size_t>(day)]) {
            return day;
        }
    }
    return std::nullopt;
}

bool OpenByWeek(const std::array<DayRule, DaysInWeek>& week, const std::optional<OpenWindow>& daily, LocalMoment now) {
    // The windows a day opens: its own, none, or the daily one (all day where that cannot be read).
    const auto windowsOf = [&](int day) -> std::vector<OpenWindow> {
        const DayRule& rule = week[static_cast<size_t>(day)];
        switch (rule.kind) {
        case DayRule::Kind::Closed:
            return {};
        case DayRule::Kind::Own:
            return rule.windows;
        case DayRule::Kind::Daily:
            break;
        }
        return {daily.value_or(OpenWindow{})};
    };
    for (const OpenWindow& window : windowsOf(now.day)) {
        if (covers(window, now.seconds)) {
            return true;
        }
    }
    for (const OpenWindow& window : windowsOf((now.day + DaysInWeek - 1) % DaysInWeek)) {
        if (coversFromYesterday(window, now.seconds)) {
            return true;
        }
    }
    return false;
}

std::optional<NextChange> NextChangeByWeek(const std::array<DayRule, DaysInWeek>& week,
                                           const std::optional<OpenWindow>& daily, LocalMoment now) {
    const bool openNow = OpenByWeek(week, daily, now);
    // The state changes only at midnight, at a window's start or just after its end.
    const auto boundsOf = [&](int day) {
        std::vector<int32_t> bounds = {0};
        const DayRule& rule = week[static_cast<size_t>(day)];
        const std::vector<OpenWindow> windows = rule.kind == DayRule::Kind::Own ? rule.windows
                                                : rule.kind == DayRule::Kind::Daily
                                                    ? std::vector<OpenWindow>{daily.value_or(OpenWindow{})}
                                                    : std::vector<OpenWindow>{};
        for (const OpenWindow& window : windows) {
            bounds.push_back(window.start.seconds);
            bounds.push_back(window.end.seconds + 1);
        }
        return bounds;
    };
    for (int days = 0; days <= DaysInWeek; ++days) {
        const int day = (now.day + days) % DaysInWeek;
        std::vector<int32_t> bounds = boundsOf(day);
        const std::vector<int32_t> fromYesterday = boundsOf((day + DaysInWeek - 1) % DaysInWeek);
        bounds.insert(bounds.end(), fromYesterday.begin(), fromYesterday.end());
        std::sort(bounds.begin(), bounds.end());
        for (const int32_t seconds : bounds) {
            if (seconds > 86399 || (days == 0 && seconds <= now.seconds)) {
                continue;
            }
            if (OpenByWeek(week, daily, {day, seconds}) != openNow) {
                return NextChange{days, seconds, !openNow};
            }
        }
    }
    return std::nullopt;
}

std::string NextChangeText(bool open, const std::optional<NextChange>& next, int today) {
    if (!next) {
        return open ? "open all week" : "closed all week";
    }
    static constexpr std::array<const char*, DaysInWeek> days = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                                 "Friday", "Saturday", "Sunday"};
    // A window's end is inside it: open until its last second, which the change follows.
    const int32_t shown = !next->opens && next->seconds > 0 ? next->seconds - 1 : next->seconds;
    std::string time = FormatLongTime(TimeOfDay{shown});
    if (time.ends_with(":00")) {
        time.resize(5);
    }
    const std::string when =
        next->days == 0 ? time : std::string(days[static_cast<size_t>((today + next->days) % DaysInWeek)]) + " " + time;
    return std::string(open ? "open" : "closed") + " until " + when;
}

WeekPlan PlanOf(const std::array<std::string, DaysInWeek>& days, const std::string& start, const std::string& end) {
    WeekPlan plan;
    for (size_t day = 0; day < plan.week.size(); ++day) {
        if (const DayRuleRead read = ReadDayRule(days[day]); read.rule) {
            plan.week[day] = *read.rule;
            plan.ownDays = plan.ownDays || read.rule->kind != DayRule::Kind::Daily;
        }
    }
    const std::optional<TimeOfDay> from = timeIn(start);
    const std::optional<TimeOfDay> to = timeIn(end);
    if (from && to) {
        plan.daily = OpenWindow{*from, *to};
    }
    return plan;
}

std::array<DayRule, DaysInWeek> LiveWeek() {
    return PlanOf(modGlobals::WeekDays, modGlobals::StartTime, modGlobals::EndTime).week;
}

LocalMoment MomentNow() {
    const WallTime wall = platform::get<Clock>().localWallTime();
    return {wall.weekday, wall.repeatedUntil >= 0 ? wall.repeatedUntil - 1 : wall.seconds};
}

std::optional<CurfewWarning> WarningDue(const std::array<DayRule, DaysInWeek>& week,
                                        const std::optional<OpenWindow>& daily, LocalMoment now, int minutes,
                                        const std::vector<std::string>& entries) {
    if (minutes <= 0 || !OpenByWeek(week, daily, now)) {
        return std::nullopt; // never during the curfew
    }
    const std::optional<NextChange> close = NextChangeByWeek(week, daily, now);
    if (!close || close->opens) {
        return std::nullopt;
    }
    // Said as the window's end, its last open second, as "open until" says it.
    const int32_t end = close->seconds > 0 ? close->seconds - 1 : close->seconds;
    const int64_t left = static_cast<int64_t>(close->days) * 86400 + end - now.seconds;
    if (left > static_cast<int64_t>(minutes) * 60) {
        return std::nullopt;
    }
    const int64_t inMinutes = (left + 59) / 60;
    std::string time = FormatLongTime(TimeOfDay{end});
    if (time.ends_with(":00")) {
        time.resize(5);
    }
    std::string text = "Closed ports close at " + time + " (in " + std::to_string(inMinutes) +
                       (inMinutes == 1 ? " minute)" : " minutes)");
    for (const std::string& entry : entries) {
        text += "\r\n" + entry;
    }
    return CurfewWarning{(now.day + close->days) % DaysInWeek, close->seconds, text};
}
