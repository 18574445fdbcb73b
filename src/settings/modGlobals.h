#pragma once

#include "platform/Result.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The program's settings, held for the whole process and read and written directly by every part of
// it, and their scrambled file settings.ini in the program's directory.
namespace modGlobals {

inline bool PasswordOK = false;              // the password prompt's answer; never stored
inline std::string AdminPassword;            // plain in memory; empty when none is set
inline std::string StartTime;                // the daily window in which the closed ports are open,
inline std::string EndTime;                  // as time-of-day texts (22:00:00)
inline std::vector<std::string> ClosedPorts; // entries 0..LastPortIndex: "21" or "21, FTP PORT"
inline int32_t LastPortIndex = -1;           // -1: the list is empty
inline bool AlarmRaised = false;             // the clock-change alarm
inline bool BlockChosen = false;             // the in-line block beside the sweep; absent reads as off
// Each weekday's own rule as kept (Monday first): "" as every day, "closed", or its windows
// ("08:00:00-12:00:00,13:00:00-21:00:00"); see WeekSchedule.h.
inline std::array<std::string, 7> WeekDays{};
// How many minutes before the closed ports close each tray says so; 0: never.
inline int32_t WarnMinutes = 0;
inline constexpr int32_t MostWarnMinutes = 24 * 60;

// The rotation every key and value of settings.ini is scrambled with. Chosen so that scrambled keys
// are plain ASCII with no blank, '=', '[', ']', ';' or backslash, and scrambled printable ASCII never
// starts or ends with a blank or a quote; a test holds every key the program writes to that.
inline constexpr int16_t RotationCount = 29;

inline constexpr const char* SettingsFileName = "settings.ini";

// "OP_" and the entry's index with at least two digits: OP_07, OP_100.
std::string PortKey(int index);

// True when settings.ini gives the value back exactly as it was saved: no control character (the
// scrambler does not bring codes 0..31 back) and short enough for a read, with room for the quotes a
// stored value may need.
bool Keeps(const std::string& value);

// Fills the settings from the file; a missing file or key reads as empty. Entries are read from OP_00
// up to the first missing or empty one; with none, the list in memory is left as it was. A file that
// is there but may not be read reads as missing too, and the result is a failure that says so, in words
// for the administrator (done when the file was read or is not there).
Result LoadSettings();

// Replaces the file with the settings in memory. The new file is written completely beside the old
// one and then moved over it, so an interruption leaves the old file or the new one, never a part.
// Where no file can be made beside it or moved over it (a folder the program may not write, a file
// mounted on its own), the old file is written in place instead: whole, keeping its owner and mode.
// No save writes through a link, and a folder in the new file's place fails the save.
// Throws nothing; a save that did not reach the disk leaves the settings in memory in force, and its
// reason is one line fit for a message ("/opt/quietwire/settings.ini: Permission denied").
Result SaveSettings();

// What the administrator is told of a save that did not reach the disk.
std::string SaveFailureMessage(const Result& saved);

// Settings follow the file: when settings.ini was replaced or changed by another program (another copy
// of this one) since this program last loaded or saved it, loads it again, the list afresh, and returns
// true. A program that never loaded the file follows nothing. A file that vanished, cannot be read or
// holds none of the program's keys (emptied, cut short, garbled) is not followed: the settings in memory
// stay in force and the next save writes them back, and the administrator is warned once
// (TakeSettingsWarning) until the file is followed or saved again.
bool FollowSettingsFile();

// The warning a look at the file left for the administrator, given once; empty when there is none.
std::string TakeSettingsWarning();
// Whether the settings in memory may be written over what settings.ini is now: it is gone, or this
// process can read what it would replace.
bool MayWriteBack();

// Why the settings are not safe where they are kept, in words for the administrator: another user may
// change the program's folder or settings.ini. Empty when only this user and the administrators may.
std::string UnsafeSettingsWarning();

// What the administrator is told of a settings.ini that is there and readable but holds none of the
// program's keys (emptied or garbled while no copy ran); empty for any other file, or none.
std::string EmptySettingsWarning();

} // namespace modGlobals
