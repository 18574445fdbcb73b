#pragma once

#include "platform/ProgramInfo.h"

#include <string>

class FakeProgramInfo : public ProgramInfo {
public:
    ProgramVersion version{1, 0, 54};
    std::string commandLine = "quietwire";

    ProgramVersion Version() override { return version; }
    std::string CommandLine() override { return commandLine; }
    uint32_t ProcessId() override { return 4242; }
};
