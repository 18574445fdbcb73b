#pragma once

// The copies of the program that run on this machine, seen from another process: the program beside
// this executable (quietwire, quietwire.exe), started by any user in any session.
class ProgramProcesses {
public:
    virtual ~ProgramProcesses() = default;
    // How many copies run now. Where the system hides another user's processes, a copy is recognised
    // by its name alone.
    virtual int RunningCopies() = 0;
};

ProgramProcesses& systemProgramProcesses();
