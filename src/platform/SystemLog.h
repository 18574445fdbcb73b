#pragma once

#include <string>

// The system's own log, where an administrator finds later what the program said while no one read
// its standard error (a Windows service has none; a copy started from a desktop's menu has nowhere).
class SystemLog {
public:
    virtual ~SystemLog() = default;
    // One line, as a warning. Where the system keeps no such log, or the line already reaches it through
    // standard error, nothing more is written.
    virtual void Warning(const std::string& line) = 0;
};

SystemLog& systemSystemLog();
