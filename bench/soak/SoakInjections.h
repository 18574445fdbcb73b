// The faults injected into a soak run: the settings folder read-only around a save, the system clock
// set by another process and answered as an administrator answers it, the tray host killed and started
// again; and the namespaces the run lives in, so that none of it reaches the machine.
#pragma once

#include "SoakLoad.h"
#include "platform/qt/QtTrayTestSupport.h"
#include "program/ProgramFolder.h"

#include <QtGui/qwindowdefs.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace soak {

constexpr auto StopFor = 5s;       // the program held with SIGSTOP
constexpr auto TrayWait = 10000ms; // for the icon in a tray, before giving up

// Sleeps until `until`, keeping the display's events flowing when there is one.
void pauseUntil(Clock::time_point until);
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds time = 5000ms);

// The namespaces every process of the run lives in: its own network, and its own mounts so that the
// settings folder can be made read-only for the program alone.
std::string enterNamespaces();

struct SaveInjection {
    Span session; // from the first step to the last
    Span readOnly;
    std::string how;                    // which save was tried
    std::string said;                   // what the saver said while the folder was read-only
    std::string effect;                 // on settings.ini, and on the dialog
    std::string afterwards;             // what happened to the save once the folder was writable again
    std::string problem;                // why the injection could not be made, or empty
    std::vector<std::string> alsoShown; // message boxes the program showed on the way, closed as a user would
};

struct ClockChange {
    Clock::time_point at;
    std::string warning; // what the program showed, empty for nothing
    bool alarmStored = false;
    Span shown;          // from the warning until the administrator's dialog closed
    std::string cleared; // how the administrator fared clearing the alarm
};

// A setting of the system clock, seen at `at`. On the display the program's warning is read and its
// stored alarm checked; then the administrator, called as the warning asks, clears the alarm by
// opening the administration dialog and closing it with OK, so that the window goes on deciding.
ClockChange answerClockChange(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host,
                              Clock::time_point at, bool display);

// The administrator's save: the dialog opened from the tray icon, OK clicked while the folder is
// read-only, the program's message read and closed, the folder writable again, OK clicked again.
SaveInjection saveThroughTheDialog(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host);

// Without a display: a save by the settings code from outside, as another copy of the program saves;
// the program follows the file.
SaveInjection saveFromOutside(const ProgramFolder& folder, const Schedule& schedule);

struct TrayInjection {
    Clock::time_point killed;
    std::optional<Clock::time_point> trayOwned; // the new tray host took the selection
    std::optional<Clock::time_point> iconBack;  // the program's icon shown inside the new tray host
    // Seen over the seconds after: the icon gone from the new tray, and a new icon window in it.
    std::optional<Clock::time_point> gone;
    std::optional<Clock::time_point> replaced;
    std::string problem;
};

// The tray host killed (SIGKILL) and a new one started at once.
TrayInjection restartTheTray(HelperProcess& host, HelperProcess& newHost, pid_t program);

} // namespace soak
