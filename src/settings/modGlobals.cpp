#include "settings/modGlobals.h"

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/ProfileText.h"
#include "settings/VtkModule.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace modGlobals {
namespace {

constexpr const char* Setup = "SETUP";
constexpr const char* Ports = "PORTS";
// A section a copy without the week never reads: it keeps to START–END.
constexpr const char* Week = "WEEK";
constexpr std::array<const char*, 7> WeekKeys = {"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};
constexpr const char* NewFileSuffix = ".new";

std::string settingsPath() {
    return VtkModule::AppPath() + SettingsFileName;
}

std::string readSetting(const std::string& path, const char* section, const std::string& key) {
    return VtkModule::Decrypt(VtkModule::ReadIni(path, section, VtkModule::Encrypt(key, RotationCount)), RotationCount);
}

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// The profile readers strip blanks and one pair of quotes around a value; enclosing a value that
// begins or ends with one in quotes makes it read back exactly as written.
std::string protectEnds(const std::string& value) {
    if (value.empty()) {
        return value;
    }
    const char first = value.front();
    const char last = value.back();
    if (ProfileText::isBlank(first) || isQuote(first) || ProfileText::isBlank(last) || isQuote(last)) {
        return '"' + value + '"';
    }
    return value;
}

struct Entry {
    const char* section;
    std::string key;   // scrambled
    std::string value; // scrambled, protected at its ends
};

std::vector<Entry> scrambledEntries() {
    std::vector<Entry> entries;
    const auto put = [&](const char* section, const std::string& key, const std::string& value) {
        entries.push_back(
            {section, VtkModule::Encrypt(key, RotationCount), protectEnds(VtkModule::Encrypt(value, RotationCount))});
    };
    put(Setup, "PASSWORD", AdminPassword);
    put(Setup, "START", StartTime);
    put(Setup, "END", EndTime);
    put(Setup, "ALARM", AlarmRaised ? "True" : "False");
    // Written only when chosen: a file of a program that never chose it stays as it always was.
    if (BlockChosen) {
        put(Setup, "BLOCK", "True");
    }
    if (WarnMinutes > 0) {
        put(Setup, "WARN", std::to_string(WarnMinutes));
    }
    for (int32_t i = 0; i <= LastPortIndex; ++i) {
        if (static_cast<size_t>(i) < ClosedPorts.size()) {
            put(Ports, PortKey(i), ClosedPorts[static_cast<size_t>(i)]);
        }
    }
    // Only the days with a rule of their own: a week never set leaves the file as it always was.
    for (size_t day = 0; day < WeekKeys.size(); ++day) {
        if (!WeekDays[day].empty()) {
            put(Week, WeekKeys[day], WeekDays[day]);
        }
    }
    return entries;
}

// The failed change of the file at path, said with the file's name.
Result failure(const std::string& path, const Result& why) {
    return Result::Failed(path + ": " + why.reason(), why.code());
}

// The text the profile writer makes of the entries, written into an empty file one by one; nothing when a
// value holds what a profile line cannot (a line break).
std::optional<std::string> fileText(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& entry : entries) {
        std::optional<std::string> changed = ProfileText::write(text, entry.section, entry.key, entry.value);
        if (!changed) {
            return std::nullopt;
        }
        text = std::move(*changed);
    }
    return text;
}

// Where no new file can take the old one's place, the old one takes the new content, written over the
// old in one piece. `why` is the reason the save gives when there is no old file to write.
Result writeInPlace(const std::string& path, const std::string& text, Result why) {
    if (!VtkModule::FileExists(path)) {
        return why;
    }
    FileSystem& fs = platform::get<FileSystem>();
    static_cast<void>(fs.setAttributesNormal(path)); // where it fails, the write below says why
    if (const Result written = fs.overwriteFile(path, text); !written) {
        return failure(path, written);
    }
    return Result::Done();
}

} // namespace

std::string PortKey(int index) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", index);
    return std::string("OP_") + digits;
}

namespace {

// The file as this program last loaded, saved or looked at it: nothing for no file; unset before the
// first load.
std::optional<std::optional<FileStamp>> known;
// Whether the administrator was told that the file was not followed, since it was last followed or saved.
bool warned = false;
std::string pendingWarning;

std::optional<FileStamp> stampOf(const std::string& path) {
    return platform::get<FileSystem>().fileStamp(path);
}

// True when the file holds at least one of the program's keys, whatever its value.
bool holdsSettings(const std::string& path) {
    ProfileFile& profile = platform::get<ProfileFile>();
    const auto reads = [&](const char* section, const std::string& key, const char* fallback) {
        char buffer[4];
        profile.getPrivateProfileString(section, key, fallback, buffer, sizeof buffer, path);
        return std::string(buffer) == fallback;
    };
    // A missing key gives the fallback; no value present gives both of two different ones.
    const auto present = [&](const char* section, const char* plainKey) {
        const std::string key = VtkModule::Encrypt(plainKey, RotationCount);
        return !reads(section, key, "\x01") || !reads(section, key, "\x02");
    };
    return present(Setup, "PASSWORD") || present(Setup, "START") || present(Setup, "END") || present(Setup, "ALARM") ||
           present(Ports, PortKey(0).c_str());
}

constexpr const char* KeptInMemory = "\r\n\r\nQuietwire keeps the settings it has and writes them back.";

// Why the file now at path is not to be followed, in words for the administrator; empty when it is.
std::string notToFollow(const std::string& path, const std::optional<FileStamp>& stamp) {
    FileSystem& fs = platform::get<FileSystem>();
    if (!stamp) {
        return "The settings file has been removed.\r\n\r\n" + path + KeptInMemory;
    }
    if (!fs.canRead(path)) {
        // Not written back: what this process cannot read may be another user's, kept from it on purpose.
        return "The settings could not be read.\r\n\r\n" + path + ": " + fs.lastErrorText() +
               "\r\n\r\nQuietwire keeps the settings it has.";
    }
    if (!holdsSettings(path)) {
        return "The settings file holds none of Quietwire's settings.\r\n\r\n" + path + KeptInMemory;
    }
    return {};
}

Result saveFile();

} // namespace

bool Keeps(const std::string& value) {
    constexpr size_t LongestKept = 2045; // a read's 2047 characters less two quotes
    for (const char c : value) {
        if (static_cast<unsigned char>(c) < 32) {
            return false;
        }
    }
    return value.size() <= LongestKept;
}

Result LoadSettings() {
    const std::string path = settingsPath();
    known = stampOf(path); // taken first: a change while reading is seen at the next look
    warned = false;
    pendingWarning.clear();
    FileSystem& fs = platform::get<FileSystem>();
    Result loaded = Result::Done();
    // A file this process may not read, or one in a folder it may not even look into, is not "no file".
    if (known->has_value() ? !fs.canRead(path) : fs.cannotTell(path)) {
        loaded = Result::Failed("The settings could not be read.\r\n\r\n" + path + ": " + fs.lastErrorText());
    }
    AdminPassword = readSetting(path, Setup, "PASSWORD");
    StartTime = readSetting(path, Setup, "START");
    EndTime = readSetting(path, Setup, "END");
    AlarmRaised = VtkModule::LCase(readSetting(path, Setup, "ALARM")) == "true";
    BlockChosen = VtkModule::LCase(readSetting(path, Setup, "BLOCK")) == "true";
    for (size_t day = 0; day < WeekKeys.size(); ++day) {
        WeekDays[day] = readSetting(path, Week, WeekKeys[day]);
    }
    WarnMinutes = 0; // absent, or not a number of minutes: never
    if (const std::string warn = readSetting(path, Setup, "WARN");
        !warn.empty() && warn.size() <= 4 && warn.find_first_not_of("0123456789") == std::string::npos) {
        WarnMinutes = std::min(std::stoi(warn), MostWarnMinutes);
    }
    for (int i = 0;; ++i) {
        std::string entry = readSetting(path, Ports, PortKey(i));
        if (entry.empty()) {
            break;
        }
        ClosedPorts.resize(static_cast<size_t>(i) + 1);
        ClosedPorts[static_cast<size_t>(i)] = std::move(entry);
        LastPortIndex = i;
    }
    return loaded;
}

bool FollowSettingsFile() {
    if (!known) {
        return false;
    }
    const std::string path = settingsPath();
    const std::optional<FileStamp> stamp = stampOf(path);
    if (stamp == *known) {
        return false;
    }
    // Taking an empty file for settings would switch the curfew off, and the next save would store
    // that: no password, no closed ports.
    if (std::string why = notToFollow(path, stamp); !why.empty()) {
        known = stamp;
        if (!warned) {
            warned = true;
            pendingWarning = std::move(why);
        }
        return false;
    }
    ClosedPorts.clear();
    LastPortIndex = -1;
    static_cast<void>(LoadSettings()); // found readable, with the program's keys, just above
    return true;
}

bool MayWriteBack() {
    const std::string path = settingsPath();
    return !stampOf(path) || platform::get<FileSystem>().canRead(path);
}

std::string TakeSettingsWarning() {
    return std::exchange(pendingWarning, {});
}

std::string EmptySettingsWarning() {
    const std::string path = settingsPath();
    if (!stampOf(path) || !platform::get<FileSystem>().canRead(path) || holdsSettings(path)) {
        return {};
    }
    return "The settings file holds none of Quietwire's settings.\r\n\r\n" + path +
           "\r\n\r\nQuietwire runs with no password and no curfew until an administrator sets them.";
}

std::string UnsafeSettingsWarning() {
    FileSystem& fs = platform::get<FileSystem>();
    const std::string folder = VtkModule::AppPath();
    for (const std::string& path : {folder, settingsPath()}) {
        if (fs.othersMayChange(path)) {
            return "The settings are not safe here: users other than the administrators may change them.\r\n\r\n" +
                   path + "\r\n\r\nLet only administrators write to this folder and to " + SettingsFileName + ".";
        }
    }
    return {};
}

Result SaveSettings() {
    Result result = saveFile();
    if (result) {
        known = stampOf(settingsPath()); // the program's own save is no change to follow
        warned = false;
        pendingWarning.clear();
    }
    return result;
}

namespace {

Result saveFile() {
    try {
        const std::string path = settingsPath();
        const std::string fresh = path + NewFileSuffix;
        const std::optional<std::string> text = fileText(scrambledEntries());
        if (!text) {
            return Result::Failed(path + ": a setting holds a line break, which the file cannot keep");
        }
        FileSystem& fs = platform::get<FileSystem>();
        // Left behind by a save that was cut short, or put there by someone else: a link is removed, never
        // followed. A folder is not ours to remove, and writing the old file in place instead would hide it.
        if (fs.removeEntry(fresh) == FileSystem::Removal::Folder) {
            return Result::Failed(fresh + ": is a folder; remove it so that the settings can be saved");
        }
        // Made new and written through the handle that made it, it stays as closed as the file it replaces
        // and nobody can point the write elsewhere. Remains that could not be removed fail this too:
        // writing into them would give a file that is neither old nor new.
        if (const Result written = fs.writeReplacement(fresh, path, *text); !written) {
            return writeInPlace(path, *text, failure(fresh, written));
        }
        if (VtkModule::FileExists(path)) {
            // A read-only or hidden file is replaced all the same; where it cannot be, the move says why.
            static_cast<void>(fs.setAttributesNormal(path));
        }
        if (const Result moved = fs.replaceFile(fresh, path); !moved) {
            const Result notMoved = failure(path, moved);
            fs.removeEntry(fresh);
            return writeInPlace(path, *text, notMoved);
        }
        return Result::Done();
    } catch (const std::exception& error) {
        return Result::Failed(error.what());
    } catch (...) {
        return Result::Failed("unknown error");
    }
}

} // namespace

std::string SaveFailureMessage(const Result& saved) {
    return "The settings could not be written.\r\n\r\n" + saved.reason();
}

} // namespace modGlobals
