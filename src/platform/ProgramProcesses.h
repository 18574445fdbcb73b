#pragma once

#include <vector>

// One running copy of the program, as another process sees it.
struct ProgramCopy {
    // Whether it has the right to close other programs' connections (Linux: CAP_NET_ADMIN; Windows: an
    // elevated administrator); true where that cannot be seen.
    bool mayClose = true;
};

// The copies of the program that run on this machine, seen from another process: the program beside
// this executable (quietwire, quietwire.exe), started by any user in any session.
class ProgramProcesses {
public:
    virtual ~ProgramProcesses() = default;
    // The copies running now. Where the system hides another user's processes, a copy is recognised by
    // its name alone.
    virtual std::vector<ProgramCopy> RunningCopies() = 0;
};

ProgramProcesses& systemProgramProcesses();
