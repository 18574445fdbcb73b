#include "platform/linux/LinuxServiceControl.h"
#include "platform/qt/QtReadableWatch.h"

// The Linux service control with its requests read from the Qt event loop; its settings in service.ini
// beside the program.
ServiceControl& systemServiceControl() {
    static LinuxServiceControl instance(watchReadableOnQtLoop, LinuxServiceControl::SettingsPath(),
                                        LinuxServiceControl::ProgramPath());
    return instance;
}
