#include "platform/ProgramIcons.h"

#include <windows.h>

// The icons are resources of the executable (resources/quietwire.rc is linked into each program).
uintptr_t LoadProgramIcon(ProgramIcon icon) {
    return reinterpret_cast<uintptr_t>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<int>(icon)),
                                                  IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

ProgramIcons& systemProgramIcons() {
    struct SystemProgramIcons final : ProgramIcons {
        uintptr_t Load(ProgramIcon icon) override { return LoadProgramIcon(icon); }
    };
    static SystemProgramIcons instance;
    return instance;
}
