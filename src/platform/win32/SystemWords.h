#pragma once

#include <windows.h>

#include <string>

// A system error code in the system's own words, without the line end they come with.
inline std::string systemWords(DWORD error) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) {
        --n;
    }
    return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
}
