#pragma once

#include <cstdint>

// The program's own icons, embedded in each build (resources/).
enum class ProgramIcon {
    Window = 1,    // the program's own icon, the key in yellow: its title bars and the executable's first icon
    Open = 101,    // the tray picture while the closed ports are open: a yellow key with a tag
    Blocked = 102, // the same key in red, while connections on closed ports are deleted
};

// The handle of one of the icons, as the build's pictures carry it; 0 when it cannot be loaded.
uintptr_t LoadProgramIcon(ProgramIcon icon);

// The same, as the program's forms reach it (tests give icons of their own).
class ProgramIcons {
public:
    virtual ~ProgramIcons() = default;
    virtual uintptr_t Load(ProgramIcon icon) = 0;
};

ProgramIcons& systemProgramIcons();
