#pragma once

#include <optional>
#include <string>

// The console a command-line tool runs in: its two output streams, standard input, and the terminal
// itself, where a password is typed unseen.
class Terminal {
public:
    virtual ~Terminal() = default;
    // Standard output; false when the text could not be written (a full disk, a closed pipe).
    virtual bool Out(const std::string& text) = 0;
    virtual void Err(const std::string& text) = 0; // standard error
    // One line of standard input, without its line end; nothing at its end.
    virtual std::optional<std::string> ReadLine() = 0;
    // Shows prompt on the terminal and reads one line typed there without echo (standard input and
    // output may be redirected), leaving what is typed ahead for the next read. Nothing when there is no
    // terminal or its input ended.
    virtual std::optional<std::string> ReadSecret(const std::string& prompt) = 0;
    // Holds the caller up; a wrong password is answered only after a wait.
    virtual void Wait(int milliseconds) = 0;
};

Terminal& systemTerminal();
