#pragma once

#include <string>

// A message written for a box, as one line for a terminal or a log: each run of line breaks becomes
// one blank.
inline std::string oneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') {
                line += ' ';
            }
        } else {
            line += c;
        }
    }
    return line;
}
