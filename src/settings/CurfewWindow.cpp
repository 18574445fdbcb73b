#include "settings/CurfewWindow.h"

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "settings/AppError.h"
#include "settings/WeekSchedule.h"
#include "settings/modGlobals.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// A cursor over the text being read; every reader returns nothing when the text does not fit.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    size_t position() const { return pos_; }
    void rewind(size_t to) { pos_ = to; }

    void skipBlanks() {
        while (!atEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }

    bool take(char c) {
        if (!atEnd() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // 1 to maxDigits decimal digits.
    std::optional<int> number(size_t maxDigits) {
        const size_t start = pos_;
        int value = 0;
        while (!atEnd() && pos_ - start < maxDigits && text_[pos_] >= '0' && text_[pos_] <= '9') {
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == start || (!atEnd() && text_[pos_] >= '0' && text_[pos_] <= '9')) {
            pos_ = start;
            return std::nullopt;
        }
        return value;
    }

    // "AM", "PM", "A" or "P" in any case: 0 for AM, 12 for PM.
    std::optional<int> designator() {
        const size_t start = pos_;
        if (atEnd()) {
            return std::nullopt;
        }
        const char c = static_cast<char>(text_[pos_] | 0x20);
        if (c != 'a' && c != 'p') {
            return std::nullopt;
        }
        ++pos_;
        if (!atEnd() && (text_[pos_] | 0x20) == 'm') {
            ++pos_;
        }
        if (!atEnd() && ((text_[pos_] | 0x20) >= 'a' && (text_[pos_] | 0x20) <= 'z')) {
            pos_ = start;
            return std::nullopt;
        }
        return c == 'a' ? 0 : 12;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

bool validDate(int year, int month, int day) {
    if (year < 100) {
        year += year < 30 ? 2000 : 1900; // two-digit years as the system reads them
    }
    static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > days[month - 1]) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

// yyyy-mm-dd, m/d/yyyy or d.m.yyyy; the reader is left after it, or where it was.
bool readDate(Reader& r) {
    const size_t start = r.position();
    const auto first = r.number(4);
    if (first) {
        for (const char separator : {'-', '/', '.'}) {
            if (!r.take(separator)) {
                continue;
            }
            const auto second = r.number(2);
            if (second && r.take(separator)) {
                if (const auto third = r.number(4)) {
                    const bool yearFirst = *first > 31;
                    const int year = yearFirst ? *first : *third;
                    const bool monthFirst = !yearFirst && separator == '/';
                    const int month = monthFirst ? *first : *second;
                    const int day = yearFirst ? *third : (monthFirst ? *second : *first);
                    if (validDate(year, month, day)) {
                        return true;
                    }
                }
            }
            break;
        }
    }
    r.rewind(start);
    return false;
}

std::optional<TimeOfDay> readTime(Reader& r) {
    const auto hour = r.number(2);
    if (!hour) {
        return std::nullopt;
    }
    int minute = 0;
    int second = 0;
    bool hasMinutes = false;
    if (r.take(':')) {
        const auto m = r.number(2);
        if (!m) {
            return std::nullopt;
        }
        minute = *m;
        hasMinutes = true;
        if (r.take(':')) {
            const auto s = r.number(2);
            if (!s) {
                return std::nullopt;
            }
            second = *s;
        }
    }
    r.skipBlanks();
    const auto pm = r.designator();
    if (!hasMinutes && !pm) {
        return std::nullopt; // a bare number is not a time
    }
    int h = *hour;
    if (pm) {
        if (h < 1 || h > 12) {
            return std::nullopt;
        }
        h = h % 12 + *pm;
    }
    if (h > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    return TimeOfDay{h * 3600 + minute * 60 + second};
}

[[noreturn]] void typeMismatch() {
    throw AppError(ErrorNumber::TypeMismatch, AppTitle, "Type mismatch");
}

} // namespace

TimeOfDay ParseTime(std::string_view text) {
    Reader r(text);
    r.skipBlanks();
    TimeOfDay time{};
    if (readDate(r)) {
        r.skipBlanks();
        if (!r.atEnd()) {
            const auto t = readTime(r);
            if (!t) {
                typeMismatch();
            }
            time = *t;
        }
    } else {
        const auto t = readTime(r);
        if (!t) {
            typeMismatch();
        }
        time = *t;
    }
    r.skipBlanks();
    if (!r.atEnd()) {
        typeMismatch();
    }
    return time;
}

std::string FormatLongTime(TimeOfDay time) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.seconds / 3600, time.seconds / 60 % 60, time.seconds % 60);
    return text;
}

bool IsInWindow(TimeOfDay start, TimeOfDay end) {
    const int32_t now = platform::get<Clock>().localSecondsOfDay();
    if (start.seconds < end.seconds) {
        return start.seconds <= now && now <= end.seconds;
    }
    return now >= start.seconds || now <= end.seconds;
}

CurfewReason CurfewNow() {
    if (modGlobals::AlarmRaised) {
        return CurfewReason::AlarmRaised;
    }
    const WeekPlan plan = PlanOf(modGlobals::WeekDays, modGlobals::StartTime, modGlobals::EndTime);
    if (!plan.ownDays) { // the daily window alone, as the program always had it
        if (!plan.daily) {
            return CurfewReason::NoWindow;
        }
        return IsInWindow(plan.daily->start, plan.daily->end) ? CurfewReason::InsideWindow
                                                              : CurfewReason::OutsideWindow;
    }
    return OpenByWeek(plan.week, plan.daily, MomentNow()) ? CurfewReason::InsideWindow : CurfewReason::OutsideWindow;
}

const char* CurfewReasonName(CurfewReason reason) {
    switch (reason) {
    case CurfewReason::AlarmRaised:
        return "alarm-raised";
    case CurfewReason::OutsideWindow:
        return "outside-window";
    case CurfewReason::InsideWindow:
        return "inside-window";
    case CurfewReason::NoWindow:
        return "no-window";
    }
    return "";
}

std::optional<CurfewReason> CurfewReasonNamed(const std::string& name) {
    for (const CurfewReason reason :
         {CurfewReason::AlarmRaised, CurfewReason::OutsideWindow, CurfewReason::InsideWindow, CurfewReason::NoWindow}) {
        if (name == CurfewReasonName(reason)) {
            return reason;
        }
    }
    return std::nullopt;
}
