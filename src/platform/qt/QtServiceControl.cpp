#include "platform/linux/LinuxServiceControl.h"
#include "platform/qt/QtReadableWatch.h"

// The Linux service control with its requests read from the Qt event loop; its settings in service.ini
// in the program's data folder.
ServiceControl& systemServiceControl() {
    static LinuxServiceControl instance(watchReadableOnQtLoop, LinuxServiceControl::SettingsPath(),
                                        LinuxServiceControl::ProgramPath(), LinuxServiceControl::ShippedUnit());
    return instance;
}
