#include "platform/StreamTerminal.h"
#include "platform/linux/UniqueFd.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// The terminal as it was before echo went off, for a signal that ends the process while it is off.
int echoFd = -1;
termios echoBefore{};
constexpr int EndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void restoreAndRaise(int sig) {
    ::tcsetattr(echoFd, TCSANOW, &echoBefore);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Echo off on the terminal for as long as this lives, also when Ctrl+C ends the process meanwhile;
// the terminal as it was afterwards.
class EchoOff {
public:
    explicit EchoOff(int fd) : saved_(::tcgetattr(fd, &echoBefore) == 0) {
        if (!saved_) {
            return;
        }
        echoFd = fd;
        struct sigaction restore {};
        restore.sa_handler = restoreAndRaise;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < std::size(EndingSignals); ++i) {
            ::sigaction(EndingSignals[i], &restore, &previous_[i]);
        }
        termios quiet = echoBefore;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ICANON | ECHONL;
        ::tcsetattr(fd, TCSANOW, &quiet); // not TCSAFLUSH: what was typed ahead is the answer
    }
    ~EchoOff() {
        if (!saved_) {
            return;
        }
        ::tcsetattr(echoFd, TCSANOW, &echoBefore);
        for (size_t i = 0; i < std::size(EndingSignals); ++i) {
            ::sigaction(EndingSignals[i], &previous_[i], nullptr);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool saved_;
    struct sigaction previous_[std::size(EndingSignals)]{};
};

class LinuxTerminal final : public StreamTerminal {
public:
    // The controlling terminal itself, as passwd and ssh ask: standard input may carry other data.
    std::optional<std::string> ReadSecret(const std::string& prompt) override {
        const UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!tty.valid() || ::isatty(tty.get()) == 0) {
            return std::nullopt;
        }
        const EchoOff quiet(tty.get());
        if (::write(tty.get(), prompt.data(), prompt.size()) < 0) {
            return std::nullopt;
        }
        std::string line;
        char c = 0;
        for (;;) {
            const ssize_t n = ::read(tty.get(), &c, 1);
            if (n <= 0) {
                return std::nullopt;
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
    }

    void Wait(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

} // namespace

Terminal& systemTerminal() {
    static LinuxTerminal instance;
    return instance;
}
