#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One running copy of the program, as another process sees it. What the system does not let that
// process see is left empty (nothing), never guessed.
struct ProgramCopy {
    uint32_t processId = 0;
    // Its user's name (or number, where the name is unknown).
    std::string user{};
    // Recognised by its name alone: another user's process, which the system does not let this one look
    // into, so it may be another program of the same name.
    bool knownByNameOnly = false;
    // Whether it has the right to close the connections this process sees (Linux: CAP_NET_ADMIN in the
    // same user and network namespace; Windows: an elevated administrator).
    std::optional<bool> mayClose{};
    // It runs in another network or user namespace (a container, unshare), where a right it holds does not
    // reach the connections this process sees.
    std::optional<bool> otherNamespace = false;
    // Stopped (SIGSTOP, a debugger) rather than running.
    std::optional<bool> stopped{};
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
