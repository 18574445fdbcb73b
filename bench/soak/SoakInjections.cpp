#include "SoakInjections.h"

#include "admin/AdminLayouts.h"
#include "platform/linux/Loopback.h"
#include "program/ProgramDisplay.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

namespace soak {

void pauseUntil(Clock::time_point until) {
    while (Clock::now() < until) {
        if (qApp != nullptr) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), 10ms));
    }
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds time) {
    return waitUntil(done, static_cast<int>(time.count()));
}

std::string enterNamespaces() {
    if (const std::string why = loopback::enterFreshNetNamespace(); !why.empty()) {
        return why;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("cannot make a mount namespace: ") + std::strerror(errno);
    }
    return "";
}

namespace {

// The folder read-only for every process of the run, root's included (a mode would not stop root): a
// read-only bind mount of it over itself, removed when this goes out of scope.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string folder) : folder_(std::move(folder)) {
        if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            problem_ = std::string("bind mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            problem_ = std::string("read-only remount: ") + std::strerror(errno);
        }
    }
    ~ReadOnlyFolder() {
        if (mounted_) {
            ::umount2(folder_.c_str(), MNT_DETACH); // detached even while the program reads through it
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    const std::string& problem() const { return problem_; }

private:
    std::string folder_;
    std::string problem_;
    bool mounted_ = false;
};

// Which version of a file is there: its inode and its time of change.
std::pair<ino_t, long long> fileVersion(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) {
        return {0, 0};
    }
    return {s.st_ino, static_cast<long long>(s.st_mtim.tv_sec) * 1000000000LL + s.st_mtim.tv_nsec};
}

std::string oneLine(std::string text) {
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            line += line.empty() || line.back() == ' ' ? "" : " ";
        } else if (c != '\r') {
            line += c;
        }
    }
    return line;
}

const char* const AdminTitle = "Vesk Quietwire - Administration";

// Closes the program's message boxes as a user would (Return), each one's text kept. The box that says
// the alarm was reset holds the reset back until it is closed: the schedule learns of it then.
void closeMessageBoxes(pid_t program, Schedule& schedule, std::vector<std::string>& seen) {
    WId box = 0;
    // A box the program holds behind the one closed (a second setting of the clock) shows a moment later.
    while (waitFor([&] { return (box = messageBox(program)) != 0; }, 500ms)) {
        seen.push_back(oneLine(messageBoxText(box)));
        const Clock::time_point closing = Clock::now();
        xdotool({"key", "Return"});
        if (seen.back() == "Alarm has been reset!") {
            schedule.clearAlarm(closing);
        }
        if (!waitFor([&] { return messageBox(program) != box; })) {
            return;
        }
    }
}

// The administration dialog opened as the administrator opens it: message boxes in the way closed,
// the tray icon's menu, "Administration...", the password. The dialog, or 0 with the reason in
// `problem`.
WId openAdministration(pid_t program, qint64 host, Schedule& schedule, std::vector<std::string>& shown,
                       std::string& problem) {
    XWindows windows;
    xcb_window_t menu = 0;
    // A message box the program shows meanwhile keeps the icon from opening its menu.
    for (int attempt = 0; attempt < 3 && menu == 0; ++attempt) {
        closeMessageBoxes(program, schedule, shown);
        const xcb_window_t icon = windows.shownInside(program, host);
        if (icon == 0) {
            problem = "the icon is not in the tray";
            return 0;
        }
        const QSize iconSize = windows.size(icon);
        clickAt(icon, iconSize.width() / 2, iconSize.height() / 2, 3);
        waitFor([&] { return (menu = windows.popup(program)) != 0; }, 2000ms);
    }
    if (menu == 0) {
        problem = "no menu at the icon";
        return 0;
    }
    clickAt(menu, windows.size(menu).width() / 2, 10); // "Administration..."
    if (!waitFor([&] { return programWindow(program, "Vesk Quietwire") != 0; })) {
        problem = "no password prompt";
        return 0;
    }
    xdotool({"type", "Secret"});
    xdotool({"key", "Return"});
    WId dialog = 0;
    waitFor([&] { return (dialog = programWindow(program, AdminTitle)) != 0 || messageBox(program) != 0; });
    if (dialog == 0) {
        closeMessageBoxes(program, schedule, shown);
    }
    if (dialog == 0 && !waitFor([&] { return (dialog = programWindow(program, AdminTitle)) != 0; })) {
        problem = "the password did not open the administration dialog";
    }
    return dialog;
}

} // namespace

ClockChange answerClockChange(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host,
                              Clock::time_point at, bool display) {
    ClockChange change{at, "", false, {}, ""};
    if (!display) {
        return change;
    }
    WId box = 0;
    change.shown.from = at;
    if (waitFor([&] { return (box = messageBox(program)) != 0; }, 3000ms)) {
        change.warning = oneLine(messageBoxText(box));
    }
    change.alarmStored = folder.stored().alarm;
    if (!change.alarmStored) {
        schedule.clearAlarm(at); // the icon was not in a tray just then: nothing was raised
    }
    pauseUntil(Clock::now() + 1s); // read
    std::vector<std::string> shown;
    std::string problem;
    const WId dialog = openAdministration(program, host, schedule, shown, problem);
    if (dialog != 0) {
        XWindows().clickControl(dialog, frmAdminLayout(), "Command4"); // OK
        waitFor([&] { return programWindow(program, AdminTitle) == 0; });
    }
    change.shown.to = Clock::now();
    const bool reset = std::find(shown.begin(), shown.end(), "Alarm has been reset!") != shown.end();
    change.cleared = !problem.empty() ? "the administrator could not clear it: " + problem
                     : reset          ? format("the administrator cleared it through the dialog after %.1f s",
                                               seconds(change.shown.to.value() - at))
                                      : "the dialog said nothing of an alarm";
    return change;
}

namespace {

// Runs `save` with the program's folder read-only, the span kept in the result; false when the folder
// could not be made read-only.
bool whileReadOnly(const ProgramFolder& folder, SaveInjection& result, const std::function<void()>& save) {
    result.readOnly.from = Clock::now();
    {
        const ReadOnlyFolder readOnly(folder.file(""));
        if (readOnly.problem().empty()) {
            save();
        } else {
            result.problem = "cannot make the folder read-only: " + readOnly.problem();
        }
    }
    result.readOnly.to = Clock::now();
    return result.problem.empty();
}

// Whether settings.ini was saved since `before`, with the window and the list the run set.
std::string savedSince(const ProgramFolder& folder, std::pair<ino_t, long long> before, const Schedule& schedule) {
    if (fileVersion(folder.file("settings.ini")) == before) {
        return "settings.ini NOT saved";
    }
    const StoredSettings stored = folder.stored();
    return stored.start == schedule.startBound && stored.end == schedule.endBound && stored.ports == ClosedList
               ? "settings.ini saved, window and list as before"
               : "settings.ini saved with OTHER settings";
}

} // namespace

SaveInjection saveThroughTheDialog(const ProgramFolder& folder, Schedule& schedule, pid_t program, qint64 host) {
    SaveInjection result;
    result.how = "the administration dialog's OK (the program's own save)";
    result.session.from = Clock::now();
    const WId dialog = openAdministration(program, host, schedule, result.alsoShown, result.problem);
    if (dialog == 0) {
        return result;
    }
    XWindows windows;
    const FormLayout layout = frmAdminLayout();
    const std::string settings = folder.file("settings.ini");
    const bool readOnly = whileReadOnly(folder, result, [&] {
        const auto before = fileVersion(settings);
        windows.clickControl(dialog, layout, "Command4"); // OK
        WId box = 0;
        if (waitFor([&] { return (box = messageBox(program)) != 0; })) {
            result.said = "a message box: \"" + oneLine(messageBoxText(box)) + "\"";
            pauseUntil(Clock::now() + 2s); // left open a while, as a user reads it
            xdotool({"key", "Return"});
            waitFor([&] { return messageBox(program) == 0; });
        } else {
            result.said = "nothing";
        }
        result.effect =
            std::string(fileVersion(settings) == before ? "settings.ini untouched" : "settings.ini CHANGED") +
            (programWindow(program, AdminTitle) != 0 ? ", the dialog stayed open" : ", the dialog CLOSED");
    });
    if (!readOnly || programWindow(program, AdminTitle) == 0) {
        return result;
    }
    const auto before = fileVersion(settings);
    windows.clickControl(dialog, layout, "Command4");
    const bool closed = waitFor([&] { return programWindow(program, AdminTitle) == 0; });
    result.afterwards = std::string(closed ? "OK again: the dialog closed, " : "OK again: the dialog STAYED OPEN, ") +
                        savedSince(folder, before, schedule);
    return result;
}

SaveInjection saveFromOutside(const ProgramFolder& folder, const Schedule& schedule) {
    SaveInjection result;
    result.how = "a save from outside by the settings code (the program follows the file)";
    result.session.from = Clock::now();
    const std::string settings = folder.file("settings.ini");
    const auto save = [&] { return folder.saveSettings(schedule.startBound, schedule.endBound, false, ClosedList); };
    const bool readOnly = whileReadOnly(folder, result, [&] {
        // Read-only for about as long as the dialog's save takes on a display.
        pauseUntil(Clock::now() + 1s);
        const auto before = fileVersion(settings);
        const Result saved = save();
        result.said = saved ? "saved" : "\"" + oneLine(saved.reason()) + "\"";
        result.effect = fileVersion(settings) == before ? "settings.ini untouched" : "settings.ini CHANGED";
        pauseUntil(Clock::now() + 2s);
    });
    if (!readOnly) {
        return result;
    }
    const auto before = fileVersion(settings);
    const Result saved = save();
    result.afterwards = saved ? savedSince(folder, before, schedule) : "NOT saved: " + saved.reason();
    return result;
}

TrayInjection restartTheTray(HelperProcess& host, HelperProcess& newHost, pid_t program) {
    TrayInjection result;
    XWindows windows;
    result.killed = Clock::now();
    host.stop();
    // X reuses a departed client's window ids: the new tray's window may carry the old one's.
    waitFor([&] { return windows.trayOwner() == 0; }, 1000ms);
    if (!newHost.start()) {
        result.problem = "trayer did not start again";
        return result;
    }
    const qint64 newPid = newHost.process().processId();
    waitFor(
        [&] {
            if (!result.trayOwned && windows.trayOwner() != 0) {
                result.trayOwned = Clock::now();
            }
            if (windows.shownInside(program, newPid) != 0) {
                result.iconBack = Clock::now();
            }
            return result.iconBack.has_value();
        },
        TrayWait);
    if (!result.iconBack) {
        result.problem =
            "the icon did not come back into the new tray within " + std::to_string(TrayWait.count()) + " ms";
        return result;
    }
    // The program checks its tray every second and may put its icon in afresh.
    const xcb_window_t icon = windows.shownInside(program, newPid);
    waitFor(
        [&] {
            const xcb_window_t now = windows.shownInside(program, newPid);
            if (now == 0 && !result.gone) {
                result.gone = Clock::now();
            }
            if (now != 0 && now != icon) {
                result.replaced = Clock::now();
            }
            return result.replaced.has_value();
        },
        3000ms);
    return result;
}

} // namespace soak
