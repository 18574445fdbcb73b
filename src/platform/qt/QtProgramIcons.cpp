#include "platform/ProgramIcons.h"
#include "platform/qt/QtTrayShell.h"

#include <QIcon>
#include <map>

uintptr_t LoadProgramIcon(ProgramIcon icon) {
    static std::map<ProgramIcon, uintptr_t> loaded;
    if (const auto it = loaded.find(icon); it != loaded.end()) {
        return it->second;
    }
    const char* file = icon == ProgramIcon::Open      ? ":/icons/key-open.ico"
                       : icon == ProgramIcon::Blocked ? ":/icons/key-blocked.ico"
                                                      : ":/icons/quietwire.ico";
    const QIcon qicon(file);
    if (qicon.isNull() || qicon.availableSizes().isEmpty()) {
        return 0;
    }
    return loaded[icon] = QtTrayShell::RegisterIcon(qicon);
}

ProgramIcons& systemProgramIcons() {
    struct SystemProgramIcons final : ProgramIcons {
        uintptr_t Load(ProgramIcon icon) override { return LoadProgramIcon(icon); }
    };
    static SystemProgramIcons instance;
    return instance;
}
