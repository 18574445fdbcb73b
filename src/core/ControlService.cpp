#include "core/ControlService.h"

#include "admin/Administration.h"
#include "settings/Journal.h"
#include "settings/WeekSchedule.h"
#include "settings/modGlobals.h"

#include <exception>
#include <utility>

using namespace ControlMessages;

namespace {

std::string line(const std::string& encoded) {
    return encoded.substr(0, encoded.size() - 1); // without its "\n": the channel ends each line itself
}

const std::string* passwordOf(const Request& request) {
    return std::visit(
        [](const auto& message) -> const std::string* {
            if constexpr (requires { message.password; }) {
                return &message.password;
            } else {
                return nullptr;
            }
        },
        request);
}

} // namespace

ControlService::ControlService(ControlServer& server, Host host) : server_(server), host_(std::move(host)) {}

ControlService::~ControlService() {
    Stop();
}

Result ControlService::Start() {
    const Result listening =
        server_.Listen({[this](ControlServer::PeerId peer, const std::string& text) { line(peer, text); },
                        [this](ControlServer::PeerId peer) { closed(peer); }});
    listening_ = static_cast<bool>(listening);
    return listening;
}

void ControlService::Stop() {
    if (listening_) {
        server_.Close();
        listening_ = false;
    }
    peers_.clear();
    companions_.clear();
    tools_.clear();
    queues_.clear();
    penalised_.clear();
}

void ControlService::answer(ControlServer::PeerId peer, bool ok, const std::string& error) {
    server_.Send(peer, ::line(encode(Answer{ok, error})));
}

void ControlService::sendState(ControlServer::PeerId peer, const StateEvent& state) {
    server_.Send(peer, ::line(encode(state)));
}

void ControlService::line(ControlServer::PeerId peer, const std::string& text) {
    peers_.insert(peer);
    const ResultWith<Request> request = parseRequest(text);
    if (!request) {
        answer(peer, false, request.reason()); // changes nothing
        return;
    }
    if (const auto* hello = std::get_if<Hello>(&*request)) {
        if (hello->role == ClientRole::Companion) {
            companions_.insert(peer);
        } else {
            tools_.insert(peer);
        }
        answer(peer, true);
        sendState(peer, host_.state());
        return;
    }
    if (std::holds_alternative<Status>(*request)) {
        sendState(peer, host_.state());
        answer(peer, true);
        return;
    }
    if (std::holds_alternative<ClockChanged>(*request)) {
        // What a desktop session sees of the clock; a service may hear nothing of it itself.
        if (!companions_.contains(peer)) {
            answer(peer, false, "only a companion in a desktop session reports clock changes");
            return;
        }
        if (clockSeen_ == 0) {
            answer(peer, false, "no change of the clock was seen here");
            return;
        }
        // Every session sees the same change: the first report raises the alarm and warns; the others, in
        // the moments after, add nothing.
        if (clockReported_) {
            answer(peer, true);
            return;
        }
        clockReported_ = true;
        constexpr int SameChangeMs = 2000;
        server_.Later(SameChangeMs, [this] { clockReported_ = false; });
        host_.clockChanged(server_.PeerUser(peer), clockSeenHow_);
        ClockWarning();
        Publish();
        answer(peer, true); // after the alarm's state: the reporter's tick must not warn of a curfew meanwhile
        return;
    }
    const std::string user = server_.PeerUser(peer);
    // Guesses sent faster than they are answered are not kept for later without end.
    constexpr std::size_t MostWaiting = 16;
    if (queues_[user].size() >= MostWaiting) {
        answer(peer, false, "too many requests of this user wait for their turn");
        return;
    }
    queues_[user].push_back({peer, *request});
    serve(user);
}

// One user's requests in order, each after the second a wrong password of theirs costs.
void ControlService::serve(const std::string& user) {
    std::deque<Waiting>& queue = queues_[user];
    while (!penalised_.contains(user) && !queue.empty()) {
        const Waiting waiting = std::move(queue.front());
        queue.pop_front();
        if (!peers_.contains(waiting.peer)) {
            continue; // gone before its turn: nothing is done for it
        }
        try {
            modGlobals::FollowSettingsFile(); // compared with, and changed from, what settings.ini holds now
        } catch (const std::exception&) {
            // the settings in force are compared with, as the tick goes on with them
        }
        const std::string* password = passwordOf(waiting.request);
        if (password == nullptr || !Administration::PasswordMatches(*password)) {
            Journal::WrongPassword(sourceOf(waiting.peer), user);
            penalised_.insert(user);
            server_.Later(Administration::WrongPasswordPenaltyMs, [this, user, peer = waiting.peer] {
                penalised_.erase(user);
                if (peers_.contains(peer)) {
                    answer(peer, false, Administration::InvalidPassword);
                }
                serve(user);
            });
            return;
        }
        carryOut(waiting);
    }
    if (queue.empty() && !penalised_.contains(user)) {
        queues_.erase(user);
    }
}

void ControlService::carryOut(const Waiting& waiting) {
    const ControlServer::PeerId peer = waiting.peer;
    if (std::holds_alternative<CheckPassword>(waiting.request)) {
        answer(peer, true);
    } else if (std::holds_alternative<GetSettings>(waiting.request)) {
        const AdminSettings settings = Administration::LiveSettings();
        server_.Send(peer, ::line(encode(SettingsAnswer{settings})));
        answer(peer, true);
    } else if (const auto* change = std::get_if<ChangeSettings>(&waiting.request)) {
        settled(peer, changeSettings(change->settings));
        Journal::SettingsChanged(sourceOf(peer), server_.PeerUser(peer));
    } else if (std::holds_alternative<ResetAlarm>(waiting.request)) {
        AdminSettings settings = Administration::LiveSettings();
        settings.alarm = false;
        settled(peer, changeSettings(settings));
        Journal::SettingsChanged(sourceOf(peer), server_.PeerUser(peer));
    } else if (const auto* service = std::get_if<ChangeService>(&waiting.request)) {
        const Administration::ServiceOutcome outcome = Administration::Keeper().ChangeService(service->registering);
        Publish();
        answer(peer, outcome.done, outcome.message);
    }
}

// The companions hear the new state before the one that asked hears the answer, so that its dialog shows it.
void ControlService::settled(ControlServer::PeerId peer, const Result& changed) {
    Publish();
    answer(peer, static_cast<bool>(changed), changed ? std::string() : changed.reason());
}

// The dialog's and quietwirectl's rules, checked here again: a client is only a program on the machine.
// Nothing changes when one of them is broken; a save that fails leaves the change in force, as the dialog's
// own does, and says why.
Result ControlService::changeSettings(const AdminSettings& settings) {
    // A window never set stays unset through a change of the ports alone (quietwirectl's add-port).
    const auto time = [](const std::string& typed, const std::string& kept) {
        return typed.empty() && kept.empty() ? std::optional<std::string>(kept) : Administration::LongTime(typed);
    };
    const std::optional<std::string> start = time(settings.start, modGlobals::StartTime);
    if (!start) {
        return Result::Failed(Administration::InvalidStartTime);
    }
    const std::optional<std::string> end = time(settings.end, modGlobals::EndTime);
    if (!end) {
        return Result::Failed(Administration::InvalidEndTime);
    }
    for (const std::string& entry : settings.ports) {
        if (entry.empty() || !modGlobals::Keeps(entry)) {
            return Result::Failed(Administration::EntryNotKept);
        }
    }
    if (!modGlobals::Keeps(settings.password)) {
        return Result::Failed(Administration::PasswordNotKept);
    }
    AdminSettings kept = settings;
    kept.start = *start;
    kept.end = *end;
    if (kept.week.size() > DaysInWeek) {
        return Result::Failed("a week has seven days");
    }
    for (std::string& day : kept.week) {
        const DayRuleRead read = ReadDayRule(day);
        if (!read.rule) {
            return Result::Failed(read.reason);
        }
        day = DayRuleText(*read.rule);
        if (!modGlobals::Keeps(day)) {
            return Result::Failed("a day's windows are more than settings.ini can keep");
        }
    }
    Administration::MakeLive(kept);
    return Administration::Keeper().Store();
}

void ControlService::closed(ControlServer::PeerId peer) {
    peers_.erase(peer);
    companions_.erase(peer);
    tools_.erase(peer);
}

// What the peer said it is: a companion asks for its administration dialog, a tool is quietwirectl. The
// record names the user the system gave besides.
const char* ControlService::sourceOf(ControlServer::PeerId peer) const {
    if (companions_.contains(peer)) {
        return Journal::Dialog;
    }
    return tools_.contains(peer) ? Journal::Quietwirectl : Journal::Channel;
}

void ControlService::Publish() {
    if (!listening_ || companions_.empty()) {
        published_.reset(); // a companion that comes is told the state when it says hello
        return;
    }
    const StateEvent state = host_.state();
    if (published_ == state) {
        return;
    }
    published_ = state;
    for (const ControlServer::PeerId peer : companions_) {
        sendState(peer, state);
    }
}

void ControlService::ClockWarning() {
    for (const ControlServer::PeerId peer : companions_) {
        server_.Send(peer, ::line(encode(ClockWarningEvent{})));
    }
}

void ControlService::ClockChangeSeen(const std::string& how) {
    clockSeenHow_ = how;
    // A report comes at the reporter's next tick, or after a moment's load.
    constexpr int BelievedForMs = 10'000;
    ++clockSeen_;
    server_.Later(BelievedForMs, [this] { --clockSeen_; });
}
