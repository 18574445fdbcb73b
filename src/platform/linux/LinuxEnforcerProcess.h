#pragma once

#include "platform/EnforcerProcess.h"

#include <sys/types.h>

// The program itself, run again with EnforcerArgument: headless, in a session of its own (a terminal's
// Ctrl+C or hang-up reaches only the display's copy), with the same standard error.
inline constexpr const char* EnforcerArgument = "--enforcer";

class LinuxEnforcerProcess final : public EnforcerProcess {
public:
    Result Start() override;
    void End() override;

private:
    pid_t pid_ = -1;
};
