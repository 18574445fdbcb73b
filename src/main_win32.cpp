// quietwire.exe: the Windows backends wired to the program.
#include "core/frmMain.h"
#include "platform/SystemPlatform.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::unique_ptr<Windowing> windowing = makeSystemWindowing(false);
    const SystemPlatform system(*windowing);
    return RunQuietwire();
}
