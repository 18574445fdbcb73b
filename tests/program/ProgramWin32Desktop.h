#pragma once

#include "platform/ProgramIcons.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A built Windows program under Wine on the virtual desktop that program-check.sh gives the tests:
// its copies, its icons in the taskbar found by their pixels, photographs of the desktop, its settings
// and its command-line tool.

// Polls until the probe gives a value that counts as true, or the time is up; returns the last value.
template <class Probe> auto waitUntil(Probe probe, int millis = 20000) {
    auto value = probe();
    for (int waited = 0; !value && waited < millis; waited += 100) {
        Sleep(100);
        value = probe();
    }
    return value;
}

bool exists(const std::string& path);

// Asks program-check.sh for a photograph of the desktop, kept among the artefacts as <name>.png.
void photograph(const std::string& name);

// When the file was last written.
FILETIME lastWritten(const std::string& path);
bool operator==(const FILETIME& a, const FILETIME& b);
// Sets the time the file was last written to 2000-01-01, so that any later write shows; the time set,
// or a zero time when it could not be set.
FILETIME backdate(const std::string& path);

// Runs `use` with the program's settings code reading and writing settings.ini in `folder`.
void useSettingsFolder(const std::string& folder, const std::function<void()>& use);

// Writes settings.ini in `folder` through the program's settings code: password "secret", start and end
// equal (the closed ports are open all day: nothing is scanned and the open icon shows), one port.
void writeOpenAllDaySettings(const std::string& folder);

// An icon drawn at size by size pixels over black, then over white: what it shows and where it is clear.
std::vector<uint32_t> drawnPixels(HICON icon, int size);

// One of the program's icons as a tray draws it: at the small-icon size, from the icon the program
// loads from its own resources. Drawn over black and over white, the pixels that come out the same
// cover the background whatever it is; those are the ones looked for on the screen.
class TrayPicture {
public:
    TrayPicture(const std::string& program, ProgramIcon icon);

    bool loaded() const { return !opaque_.empty(); }

    // How many times the taskbar shows it now (none while the taskbar is hidden).
    int timesInTaskbar() const { return static_cast<int>(placesInTaskbar().size()); }

    // The screen's points at the middle of each picture of it in the taskbar.
    std::vector<POINT> placesInTaskbar() const;

private:
    struct Pixel {
        int x;
        int y;
        uint32_t colour;
    };
    int size_;
    std::vector<Pixel> opaque_;
};

// One copy of the program, started from its folder as Explorer starts it.
class RunningProgram {
public:
    // With the test's own rights, or as the shell starts a program that asks for no more than its
    // user's rights for an administrator under UAC: the Administrators group only denies.
    enum class Rights { Own, Limited };
    explicit RunningProgram(const std::string& path, Rights rights = Rights::Own);
    // A copy still running is ended as at the end of the session, so that its icon leaves the tray.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD processId() const { return id_; }
    bool running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

    // Whether the process ended by itself within the time, with exit code 0.
    bool endsWithin(DWORD millis) const;

    // frmMain: of the program's two hidden, captionless forms, the one with the HIDE button (the
    // other is the tray component's own window).
    HWND mainWindow() const;

    // A visible top-level window of the program.
    HWND shown(const std::string& windowClass, const std::string& caption) const;

    HWND messageBox() const { return shown("#32770", "QWADMIN"); }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// The text of a message box.
std::string messageText(HWND box);

// The user's right click at a point of the screen, and a key pressed and let go, through the system's
// input queue.
void rightClick(POINT at);
void pressKey(WORD key);

// A run of a console program: its exit code and what it wrote.
struct ToolRun {
    DWORD status = 1;
    std::string output;
};
// Runs the console program `tool` with the arguments, its output in `outputFile`.
ToolRun runTool(const std::string& tool, const std::string& arguments, const std::string& outputFile);
