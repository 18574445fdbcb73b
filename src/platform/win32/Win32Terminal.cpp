#include "platform/StreamTerminal.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

namespace {

// The console as it was before echo went off, for Ctrl+C, which ends the process while it is off.
HANDLE echoInput = nullptr;
DWORD echoBefore = 0;

BOOL WINAPI restoreOnEnd(DWORD) {
    SetConsoleMode(echoInput, echoBefore);
    return FALSE; // and on to the handler that ends the process
}

// Echo off on the console for as long as this lives; the console as it was afterwards.
class EchoOff {
public:
    explicit EchoOff(HANDLE input) : saved_(GetConsoleMode(input, &echoBefore) != 0) {
        if (saved_) {
            echoInput = input;
            SetConsoleCtrlHandler(restoreOnEnd, TRUE);
            SetConsoleMode(input, (echoBefore & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                      ENABLE_PROCESSED_INPUT);
        }
    }
    ~EchoOff() {
        if (saved_) {
            SetConsoleMode(echoInput, echoBefore);
            SetConsoleCtrlHandler(restoreOnEnd, FALSE);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return saved_; }

private:
    bool saved_;
};

void writeConsole(HANDLE output, const std::string& text) {
    DWORD written = 0;
    WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

class Win32Terminal final : public StreamTerminal {
public:
    // The console itself (CONIN$, CONOUT$): standard input and output may be redirected.
    std::optional<std::string> ReadSecret(const std::string& prompt) override {
        const UniqueHandle input(CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        const UniqueHandle output(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!input.valid() || !output.valid()) {
            return std::nullopt;
        }
        const EchoOff quiet(input.get());
        if (!quiet.active()) {
            return std::nullopt;
        }
        writeConsole(output.get(), prompt);
        std::string line;
        char c = 0;
        DWORD read = 0;
        while (ReadFile(input.get(), &c, 1, &read, nullptr) != 0 && read == 1) {
            if (c == '\n') {
                writeConsole(output.get(), "\r\n");
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return line;
            }
            line += c;
        }
        return std::nullopt;
    }

    void Wait(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
};

} // namespace

Terminal& systemTerminal() {
    static Win32Terminal instance;
    return instance;
}
