#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What the enforcer (the copy with the rights: the service, or a copy run as root; the only one that reads
// and writes settings.ini and runs the tick) and its clients (a companion in each desktop session,
// quietwirectl) say to each other over the local channel: one compact JSON object a line, its "type" member
// naming the message. Members a reader does not know are ignored, so that either side may add some.
//
// Strings travel as UTF-8, which the reader insists on. The settings of the Windows build are ANSI code-page
// text: the side that holds them converts at its edge, before encode and after parsing (not done yet; nothing
// sends them so far). Text that is not UTF-8 all the same is sent with U+FFFD for each bad byte, never refused
// and never thrown over.
namespace ControlMessages {

// The longest message a reader takes, its line ending not counted: it need not wait longer for a line's end.
// The sender keeps to it too; a longer line is refused unread.
inline constexpr std::size_t MaxMessageBytes = 16 * 1024;

// What the administration dialog shows and saves.
struct AdminSettings {
    std::string password{}; // the administrator password (to set, in a change)
    std::string start{};    // times of day as stored: "22:00:00"
    std::string end{};
    std::vector<std::string> ports{}; // closed-port entries as typed: "21, FTP PORT"
    bool alarm = false;
    bool block = false;
    std::vector<std::string> week{}; // each day's rule as kept, Monday first: "", "closed" or its windows
    std::size_t warn = 0;            // minutes of warning before the ports close; 0: none
    bool operator==(const AdminSettings&) const = default;
};

// Client to enforcer. Each is answered with an Answer.

enum class ClientRole { Companion, Tool }; // "companion": a desktop session's tray icon; "tool": quietwirectl

struct Hello {
    ClientRole role = ClientRole::Companion;
    bool operator==(const Hello&) const = default;
};
// A companion saw the system clock change (its desktop session hears the notice; a service may not).
struct ClockChanged {
    bool operator==(const ClockChanged&) const = default;
};
struct CheckPassword {
    std::string password{};
    bool operator==(const CheckPassword&) const = default;
};
// Answered with a SettingsAnswer besides, when the password is right.
struct GetSettings {
    std::string password{};
    bool operator==(const GetSettings&) const = default;
};
struct ChangeSettings {
    std::string password{}; // the current one; the new one is in settings
    AdminSettings settings{};
    bool operator==(const ChangeSettings&) const = default;
};
struct ResetAlarm {
    std::string password{};
    bool operator==(const ResetAlarm&) const = default;
};
// Registers the program as a service, or removes it; the answer's words are the administrator's message.
struct ChangeService {
    std::string password{};
    bool registering = true;
    bool operator==(const ChangeService&) const = default;
};
// Asks for a StateEvent now rather than at the next change.
struct Status {
    bool operator==(const Status&) const = default;
};

using Request =
    std::variant<Hello, ClockChanged, CheckPassword, GetSettings, ChangeSettings, ResetAlarm, ChangeService, Status>;

// Enforcer to client: answers, and events it sends unasked.

struct Answer {
    bool ok = false;
    std::string error{}; // words for the user: why not; or, for a service change, what was done
    bool operator==(const Answer&) const = default;
};
struct SettingsAnswer {
    AdminSettings settings{};
    bool operator==(const SettingsAnswer&) const = default;
};
struct StateEvent {
    bool blocked = false; // connections on closed ports are being closed now
    bool alarm = false;
    bool enforced = false;
    std::string reason{}; // why not enforced; empty when enforced
    // What anyone may know of the settings (quietwirectl's status tells them without a password).
    std::string curfew{}; // why the ports are open or closed now: "window", "outside-window", "alarm", ...
    std::string start{};
    std::string end{};
    std::size_t entries = 0;         // closed-port entries
    bool block = false;              // the in-line block chosen
    bool registered = false;         // the program is registered as a service
    uint32_t process = 0;            // the enforcer's process id
    std::vector<std::string> week{}; // each day's rule, as in AdminSettings
    std::size_t warn = 0;            // minutes of warning, and the entries the warning names
    std::vector<std::string> ports{};
    bool operator==(const StateEvent&) const = default;
};
// The clock was changed: the companions show the warning.
struct ClockWarningEvent {
    bool operator==(const ClockWarningEvent&) const = default;
};

using EnforcerMessage = std::variant<Answer, SettingsAnswer, StateEvent, ClockWarningEvent>;

// One line, "\n" included.
std::string encode(const Hello& message);
std::string encode(const ClockChanged& message);
std::string encode(const CheckPassword& message);
std::string encode(const GetSettings& message);
std::string encode(const ChangeSettings& message);
std::string encode(const ResetAlarm& message);
std::string encode(const ChangeService& message);
std::string encode(const Status& message);
std::string encode(const Answer& message);
std::string encode(const SettingsAnswer& message);
std::string encode(const StateEvent& message);
std::string encode(const ClockWarningEvent& message);
std::string encode(const Request& message);
std::string encode(const EnforcerMessage& message);

// A line as read, with or without its "\n". A refusal's reason is fit to send back as an Answer's error:
// "message too long", "malformed message", "unknown message type \"x\"", "missing or wrong member \"x\"".
// Never throws.
ResultWith<Request> parseRequest(std::string_view line);
ResultWith<EnforcerMessage> parseEnforcerMessage(std::string_view line);

} // namespace ControlMessages
