#pragma once

#include <string>

// What the program knows of itself: its version, as the build stamped it into the executable, and
// the command line it was started with.
struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

class ProgramInfo {
public:
    virtual ~ProgramInfo() = default;
    // Windows: the executable's version resource; Linux: the version the build compiled in.
    virtual ProgramVersion Version() = 0;
    // The arguments after the program's name, as one text.
    virtual std::string CommandLine() = 0;
    // This process's id, as the system's process list shows it.
    virtual uint32_t ProcessId() = 0;
};

ProgramInfo& systemProgramInfo();
