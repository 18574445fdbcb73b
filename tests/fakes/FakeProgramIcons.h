#pragma once

#include "platform/ProgramIcons.h"

// Each icon's handle is its resource number.
class FakeProgramIcons : public ProgramIcons {
public:
    uintptr_t Load(ProgramIcon icon) override { return static_cast<uintptr_t>(icon); }
};
