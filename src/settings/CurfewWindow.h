#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A time of day in whole seconds since midnight, 0..86399; dates play no part in the curfew.
struct TimeOfDay {
    int32_t seconds = 0;
    bool operator==(const TimeOfDay&) const = default;
};

// Reads a time the way an administrator may type or store it: "21:00", "21:00:00", "9:00 PM",
// "9 pm", or a date followed by a time ("2024-01-15 21:00", "1/15/2024 9:00:00 PM",
// "15.01.2024 21:00"; only the time counts, a date alone is midnight), with blanks around.
// Fails with error 13 (type mismatch) for empty text, an hour above 23, a minute or second above 59,
// and anything else it cannot read.
TimeOfDay ParseTime(std::string_view text);

// The long time form the settings store: 07:30:00.
std::string FormatLongTime(TimeOfDay time);

// True when the current local time of day lies inside the window from start to end, both bounds
// included. A start later than the end makes a window across midnight; equal bounds are open all
// day. Reads the clock once.
bool IsInWindow(TimeOfDay start, TimeOfDay end);

// Why the closed ports are open or blocked now, decided from the live settings as the enforcement tick
// decides it: a raised alarm blocks them at all hours; a window that cannot be read (none set, or a
// stored time that is not one) leaves them open.
enum class CurfewReason { AlarmRaised, OutsideWindow, InsideWindow, NoWindow };
CurfewReason CurfewNow();
inline bool PortsBlocked(CurfewReason reason) {
    return reason == CurfewReason::AlarmRaised || reason == CurfewReason::OutsideWindow;
}
// Its name where a script or another process reads it ("outside-window"), and back.
const char* CurfewReasonName(CurfewReason reason);
std::optional<CurfewReason> CurfewReasonNamed(const std::string& name);
