#pragma once

#include "platform/Terminal.h"

#include <cstdio>
#include <iostream>

// The standard streams, the same on every system; the terminal itself and waiting are the system's.
class StreamTerminal : public Terminal {
public:
    bool Out(const std::string& text) override { return write(stdout, text); }
    void Err(const std::string& text) override { write(stderr, text); }

    std::optional<std::string> ReadLine() override {
        std::string line;
        if (!std::getline(std::cin, line)) {
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back(); // a file written on Windows
        }
        return line;
    }

private:
    static bool write(std::FILE* stream, const std::string& text) {
        return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
    }
};
