#pragma once

#include "platform/Terminal.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

// A console whose output is kept, whose standard input and terminal answer from a script, and whose
// waits are written down instead of waited.
class FakeTerminal : public Terminal {
public:
    std::string out;
    std::string err;
    std::deque<std::string> input; // standard input, line by line
    std::deque<std::string> typed; // typed unseen at the terminal; none left: no terminal
    std::vector<std::string> prompts;
    std::vector<int> waits;
    std::function<void()> whileTyping; // what happens elsewhere while a secret is being typed

    bool writable = true; // false: standard output fails, as on a full disk

    bool Out(const std::string& text) override {
        out += writable ? text : "";
        return writable;
    }
    void Err(const std::string& text) override { err += text; }
    std::optional<std::string> ReadLine() override { return next(input); }
    std::optional<std::string> ReadSecret(const std::string& prompt) override {
        prompts.push_back(prompt);
        if (whileTyping) {
            whileTyping();
        }
        return next(typed);
    }
    void Wait(int milliseconds) override { waits.push_back(milliseconds); }

private:
    static std::optional<std::string> next(std::deque<std::string>& lines) {
        if (lines.empty()) {
            return std::nullopt;
        }
        std::string line = lines.front();
        lines.pop_front();
        return line;
    }
};
