#include "service/ControlMessages.h"

#include <nlohmann/json.hpp>

#include <optional>

namespace ControlMessages {

namespace {

using Json = nlohmann::ordered_json; // "type" first, for a person reading a trace

template <class Message> constexpr const char* TypeName = nullptr;
template <> constexpr const char* TypeName<Hello> = "hello";
template <> constexpr const char* TypeName<ClockChanged> = "clock-changed";
template <> constexpr const char* TypeName<CheckPassword> = "check-password";
template <> constexpr const char* TypeName<GetSettings> = "get-settings";
template <> constexpr const char* TypeName<ChangeSettings> = "change-settings";
template <> constexpr const char* TypeName<ResetAlarm> = "reset-alarm";
template <> constexpr const char* TypeName<ChangeService> = "change-service";
template <> constexpr const char* TypeName<Status> = "status";
template <> constexpr const char* TypeName<Answer> = "answer";
template <> constexpr const char* TypeName<SettingsAnswer> = "settings";
template <> constexpr const char* TypeName<StateEvent> = "state";
template <> constexpr const char* TypeName<ClockWarningEvent> = "clock-warning";

const char* roleName(ClientRole role) {
    return role == ClientRole::Tool ? "tool" : "companion";
}

template <class Message> Json begun() {
    Json message = Json::object();
    message["type"] = TypeName<Message>;
    return message;
}

// Replacing bad bytes keeps dump() from throwing on text that is not UTF-8.
std::string line(const Json& message) {
    return message.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

template <class Message> std::string withPassword(const Message& message) {
    Json json = begun<Message>();
    json["password"] = message.password;
    return line(json);
}

Json settingsJson(const AdminSettings& settings) {
    return Json{{"password", settings.password}, {"start", settings.start}, {"end", settings.end},
                {"ports", settings.ports},       {"alarm", settings.alarm}, {"block", settings.block},
                {"week", settings.week},         {"warn", settings.warn}};
}

// The members of one received object, noting the first one missing or of the wrong type.
class Reader {
public:
    explicit Reader(const Json& object, std::string path = {}) : object_(object), path_(std::move(path)) {}

    std::string text(const std::string& name) {
        const Json* value = member(name, Json::value_t::string);
        return value ? value->get<std::string>() : std::string();
    }
    bool flag(const std::string& name) {
        const Json* value = member(name, Json::value_t::boolean);
        return value && value->get<bool>();
    }
    std::size_t count(const std::string& name) {
        const Json* value = member(name, Json::value_t::number_unsigned);
        return value ? value->get<std::size_t>() : 0;
    }
    std::vector<std::string> texts(const std::string& name) {
        const Json* value = member(name, Json::value_t::array);
        if (!value) {
            return {};
        }
        std::vector<std::string> texts;
        for (const Json& item : *value) {
            if (!item.is_string()) {
                refuse(name);
                return {};
            }
            texts.push_back(item.get<std::string>());
        }
        return texts;
    }
    ClientRole role(const std::string& name) {
        const std::string role = text(name);
        if (role != roleName(ClientRole::Tool) && role != roleName(ClientRole::Companion)) {
            refuse(name);
        }
        return role == roleName(ClientRole::Tool) ? ClientRole::Tool : ClientRole::Companion;
    }
    AdminSettings settings(const std::string& name) {
        const Json* value = member(name, Json::value_t::object);
        if (!value) {
            return {};
        }
        Reader inner(*value, path_ + name + ".");
        // Braced initialisers run in order: the first wrong member is the one named.
        AdminSettings settings{inner.text("password"), inner.text("start"), inner.text("end"),   inner.texts("ports"),
                               inner.flag("alarm"),    inner.flag("block"), inner.texts("week"), inner.count("warn")};
        if (wrong_.empty()) {
            wrong_ = inner.wrong_;
        }
        return settings;
    }

    Result outcome() const {
        return wrong_.empty() ? Result::Done() : Result::Failed("missing or wrong member \"" + wrong_ + "\"");
    }

private:
    const Json* member(const std::string& name, Json::value_t type) {
        const auto found = object_.find(name);
        if (found == object_.end() || found->type() != type) {
            refuse(name);
            return nullptr;
        }
        return &*found;
    }
    void refuse(const std::string& name) {
        if (wrong_.empty()) {
            wrong_ = path_ + name;
        }
    }

    const Json& object_;
    std::string path_;
    std::string wrong_;
};

template <class Message> struct Kind {
    const char* type;
    Message (*read)(Reader&);
};

const Kind<Request> RequestKinds[] = {
    {TypeName<Hello>, [](Reader& r) -> Request { return Hello{r.role("role")}; }},
    {TypeName<ClockChanged>, [](Reader&) -> Request { return ClockChanged{}; }},
    {TypeName<CheckPassword>, [](Reader& r) -> Request { return CheckPassword{r.text("password")}; }},
    {TypeName<GetSettings>, [](Reader& r) -> Request { return GetSettings{r.text("password")}; }},
    {TypeName<ChangeSettings>,
     [](Reader& r) -> Request {
         return ChangeSettings{r.text("password"), r.settings("settings")};
     }},
    {TypeName<ResetAlarm>, [](Reader& r) -> Request { return ResetAlarm{r.text("password")}; }},
    {TypeName<ChangeService>,
     [](Reader& r) -> Request {
         return ChangeService{r.text("password"), r.flag("registering")};
     }},
    {TypeName<Status>, [](Reader&) -> Request { return Status{}; }},
};

const Kind<EnforcerMessage> EnforcerKinds[] = {
    {TypeName<Answer>,
     [](Reader& r) -> EnforcerMessage {
         return Answer{r.flag("ok"), r.text("error")};
     }},
    {TypeName<SettingsAnswer>, [](Reader& r) -> EnforcerMessage { return SettingsAnswer{r.settings("settings")}; }},
    {TypeName<StateEvent>,
     [](Reader& r) -> EnforcerMessage {
         return StateEvent{r.flag("blocked"),
                           r.flag("alarm"),
                           r.flag("enforced"),
                           r.text("reason"),
                           r.text("curfew"),
                           r.text("start"),
                           r.text("end"),
                           r.count("entries"),
                           r.flag("block"),
                           r.flag("registered"),
                           static_cast<uint32_t>(r.count("process")),
                           r.texts("week"),
                           r.count("warn"),
                           r.texts("ports")};
     }},
    {TypeName<ClockWarningEvent>, [](Reader&) -> EnforcerMessage { return ClockWarningEvent{}; }},
};

// A peer's word quoted in a refusal, cut short (on a character's start) so that the answer carrying it
// stays far within the limit.
std::string quoted(std::string word) {
    constexpr size_t longest = 64;
    if (word.size() > longest) {
        size_t cut = longest;
        while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xc0) == 0x80) {
            --cut;
        }
        word = word.substr(0, cut) + "...";
    }
    return "\"" + word + "\"";
}

template <class Message, size_t Count>
ResultWith<Message> parsed(std::string_view line, const Kind<Message> (&kinds)[Count]) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (line.size() > MaxMessageBytes) {
        return Result::Failed("message too long");
    }
    // JSON would take a line break between members; a line has none.
    if (line.find('\n') != std::string_view::npos) {
        return Result::Failed("malformed message");
    }
    try {
        const Json message = Json::parse(line, nullptr, false);
        if (!message.is_object()) { // what did not parse is "discarded", no object either
            return Result::Failed("malformed message");
        }
        const auto type = message.find("type");
        if (type == message.end() || !type->is_string()) {
            return Result::Failed("missing or wrong member \"type\"");
        }
        for (const Kind<Message>& kind : kinds) {
            if (type->get_ref<const std::string&>() == kind.type) {
                Reader reader(message);
                Message read = kind.read(reader);
                if (Result outcome = reader.outcome(); !outcome) {
                    return outcome;
                }
                return read;
            }
        }
        return Result::Failed("unknown message type " + quoted(type->get<std::string>()));
    } catch (const Json::exception&) {
        return Result::Failed("malformed message");
    }
}

} // namespace

std::string encode(const Hello& message) {
    Json json = begun<Hello>();
    json["role"] = roleName(message.role);
    return line(json);
}

std::string encode(const ClockChanged&) {
    return line(begun<ClockChanged>());
}

std::string encode(const CheckPassword& message) {
    return withPassword(message);
}

std::string encode(const GetSettings& message) {
    return withPassword(message);
}

std::string encode(const ChangeSettings& message) {
    Json json = begun<ChangeSettings>();
    json["password"] = message.password;
    json["settings"] = settingsJson(message.settings);
    return line(json);
}

std::string encode(const ResetAlarm& message) {
    return withPassword(message);
}

std::string encode(const ChangeService& message) {
    Json json = begun<ChangeService>();
    json["password"] = message.password;
    json["registering"] = message.registering;
    return line(json);
}

std::string encode(const Status&) {
    return line(begun<Status>());
}

std::string encode(const Answer& message) {
    Json json = begun<Answer>();
    json["ok"] = message.ok;
    json["error"] = message.error;
    return line(json);
}

std::string encode(const SettingsAnswer& message) {
    Json json = begun<SettingsAnswer>();
    json["settings"] = settingsJson(message.settings);
    return line(json);
}

std::string encode(const StateEvent& message) {
    Json json = begun<StateEvent>();
    json["blocked"] = message.blocked;
    json["alarm"] = message.alarm;
    json["enforced"] = message.enforced;
    json["reason"] = message.reason;
    json["curfew"] = message.curfew;
    json["start"] = message.start;
    json["end"] = message.end;
    json["entries"] = message.entries;
    json["block"] = message.block;
    json["registered"] = message.registered;
    json["process"] = message.process;
    json["week"] = message.week;
    json["warn"] = message.warn;
    json["ports"] = message.ports;
    return line(json);
}

std::string encode(const ClockWarningEvent&) {
    return line(begun<ClockWarningEvent>());
}

std::string encode(const Request& message) {
    return std::visit([](const auto& request) { return encode(request); }, message);
}

std::string encode(const EnforcerMessage& message) {
    return std::visit([](const auto& sent) { return encode(sent); }, message);
}

ResultWith<Request> parseRequest(std::string_view line) {
    return parsed(line, RequestKinds);
}

ResultWith<EnforcerMessage> parseEnforcerMessage(std::string_view line) {
    return parsed(line, EnforcerKinds);
}

} // namespace ControlMessages
