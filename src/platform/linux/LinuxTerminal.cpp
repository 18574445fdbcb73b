#include "platform/StreamTerminal.h"
#include "platform/linux/UniqueFd.h"

#include <chrono>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Echo off on the terminal for as long as this lives; the terminal as it was afterwards.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd), saved_(::tcgetattr(fd, &before_) == 0) {
        if (saved_) {
            termios quiet = before_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ICANON | ECHONL;
            ::tcsetattr(fd_, TCSAFLUSH, &quiet);
        }
    }
    ~EchoOff() {
        if (saved_) {
            ::tcsetattr(fd_, TCSAFLUSH, &before_);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    termios before_{};
    bool saved_;
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
