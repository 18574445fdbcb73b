#include "admin/EnforcerLink.h"

#include "settings/modGlobals.h"

#include <utility>

using namespace ControlMessages;

namespace {

constexpr int PollMs = 20;
// A wrong password costs a second, and the user's earlier guesses in other processes go first; an
// enforcer that says nothing for this long is taken for gone.
constexpr int AnswerWithinMs = 30'000;
constexpr int GreetingWithinMs = 5'000; // a greeting waits for nobody's guesses

} // namespace

EnforcerLink::EnforcerLink(ControlClient& client, std::function<void(int milliseconds)> pass, Events events)
    : client_(client), pass_(std::move(pass)), events_(std::move(events)) {}

Result EnforcerLink::Connect(ClientRole role) {
    state_.reset();
    answers_.clear();
    if (const Result connected = client_.Connect([this] { Poll(); }); !connected) {
        return connected;
    }
    const ResultWith<Answer> answered = ask(encode(Hello{role}));
    if (!answered) {
        client_.Disconnect();
        return answered.result();
    }
    // The state follows the greeting's answer.
    for (int waited = 0; !state_ && client_.Connected() && waited < GreetingWithinMs; waited += PollMs) {
        Poll();
        if (!state_) {
            pass_(PollMs);
        }
    }
    if (!state_) {
        client_.Disconnect();
        return Result::Failed("the enforcer did not say its state");
    }
    return Result::Done();
}

bool EnforcerLink::Poll() {
    if (!client_.Connected()) {
        return false;
    }
    const ResultWith<std::vector<std::string>> lines = client_.Receive(0);
    if (!lines) {
        return false;
    }
    for (const std::string& line : *lines) {
        handle(line);
    }
    return client_.Connected();
}

void EnforcerLink::handle(const std::string& line) {
    const ResultWith<EnforcerMessage> message = parseEnforcerMessage(line);
    if (!message) {
        return; // a newer enforcer's word this one does not know
    }
    if (const auto* answer = std::get_if<Answer>(&*message)) {
        answers_.push_back(*answer);
    } else if (const auto* settings = std::get_if<SettingsAnswer>(&*message)) {
        settings_ = settings->settings;
    } else if (const auto* state = std::get_if<StateEvent>(&*message)) {
        state_ = *state;
        if (state->alarm) {
            modGlobals::AlarmRaised = true; // raised while a dialog is open: its OK keeps it, as ever
        }
        if (events_.state) {
            events_.state(*state);
        }
    } else if (std::holds_alternative<ClockWarningEvent>(*message) && events_.clockWarning) {
        events_.clockWarning();
    }
}

ResultWith<Answer> EnforcerLink::ask(const std::string& request) {
    if (asking_) {
        return Result::Failed("Another request to the Quietwire service is under way.");
    }
    struct Asking {
        bool& flag;
        explicit Asking(bool& f) : flag(f) { flag = true; }
        ~Asking() { flag = false; }
    } asking(asking_);
    answers_.clear();
    if (const Result sent = client_.Send(request.substr(0, request.size() - 1)); !sent) {
        return Result::Failed("The Quietwire service could not be reached: " + sent.reason(), sent.code());
    }
    for (int waited = 0; waited < AnswerWithinMs; waited += PollMs) {
        if (!Poll() && answers_.empty()) {
            return Result::Failed("The Quietwire service went away before it answered.");
        }
        if (!answers_.empty()) {
            const Answer answer = answers_.front();
            answers_.pop_front();
            return answer;
        }
        pass_(PollMs);
    }
    client_.Disconnect();
    return Result::Failed("The Quietwire service did not answer.");
}

Result EnforcerLink::ReportClockChange() {
    const ResultWith<Answer> answer = ask(encode(ClockChanged{}));
    if (!answer) {
        return answer.result();
    }
    return answer->ok ? Result::Done() : Result::Failed(answer->error);
}

ResultWith<bool> EnforcerLink::CheckPassword(const std::string& typed,
                                             const std::function<void(int milliseconds)>& pass) {
    const std::function<void(int)> own = std::exchange(pass_, pass);
    const ResultWith<Answer> answer = ask(encode(ControlMessages::CheckPassword{typed}));
    pass_ = own;
    if (!answer) {
        return answer.result();
    }
    if (answer->ok) {
        password_ = typed;
    } else if (answer->error != Administration::InvalidPassword) {
        return Result::Failed(answer->error); // turned away before any password was compared
    }
    return answer->ok;
}

Result EnforcerLink::Fetch() {
    settings_.reset();
    const ResultWith<Answer> answer = ask(encode(GetSettings{password_}));
    if (!answer) {
        return answer.result();
    }
    if (!answer->ok || !settings_) {
        return Result::Failed(answer->error.empty() ? "The Quietwire service sent no settings." : answer->error);
    }
    Administration::MakeLive(*settings_);
    return Result::Done();
}

Result EnforcerLink::Store() {
    const AdminSettings settings = Administration::LiveSettings();
    const ResultWith<Answer> answer = ask(encode(ChangeSettings{password_, settings}));
    if (!answer) {
        return answer.result();
    }
    if (!answer->ok) {
        return Result::Failed(answer->error);
    }
    password_ = settings.password; // the next change is made with the password now in force
    return Result::Done();
}

Administration::ServiceOutcome EnforcerLink::ChangeService(bool registering) {
    const ResultWith<Answer> answer = ask(encode(ControlMessages::ChangeService{password_, registering}));
    if (!answer) {
        return {false, answer.reason()};
    }
    return {answer->ok, answer->error};
}
