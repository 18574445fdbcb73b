#pragma once

#include "platform/Forms.h"
#include "platform/ProgramIcons.h"

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtGui/qwindowdefs.h>

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>
#include <xcb/xcb.h>

// The built program's windows on the test's X display (Xvfb, started by the test command, with trayer
// as the tray host), found in the X window tree, driven with xdotool and photographed with ImageMagick.

// DISPLAY, XAUTHORITY and the session bus of the test, for the program it starts ("NAME=value").
std::vector<std::string> displayEnvironment();

// xdotool's output for the arguments, trimmed.
QString xdotool(const QStringList& arguments);

// The program's shown window whose title is exactly `title` (the newest of several), or 0.
WId programWindow(pid_t program, const QString& title);
// The program's shown "QWADMIN" message box, or 0.
WId messageBox(pid_t program);
// What the box says, as a user copies it (the box raised and focused first: another program's may
// cover it).
std::string messageBoxText(WId box);

// Clicks the window with the mouse button (1 left, 3 right) at a point inside it.
void clickAt(WId window, int x, int y, int button = 1);

// The middle of a control of the layout in its window's pixels: the window is the layout's client
// area at the screen's resolution.
QPoint middleOf(const FormLayout& layout, const std::string& name, int index, QSize window);

// A picture of the whole screen, saved among the test artefacts as <name>.png and announced on the
// test's output; its path, or an empty text when no picture could be taken.
std::string screenshot(const std::string& name);

class XWindows {
public:
    XWindows();

    // The program's window shown inside a window of `host` (the tray icon the host embedded), or 0.
    xcb_window_t shownInside(pid_t program, qint64 host) const {
        return shownBelow(screenRoot(), program, host, false);
    }
    // The program's shown pop-up (a top-level window the window manager does not place), or 0.
    xcb_window_t popup(pid_t program) const;
    // The key a tray icon's window shows, told by its colour (Open: yellow; Blocked: red), or nothing.
    std::optional<ProgramIcon> keyShown(xcb_window_t icon) const;
    // A window's size in pixels.
    QSize size(xcb_window_t window) const;
    // The window of the XEmbed tray host (the owner of the system tray selection), or 0.
    xcb_window_t trayOwner() const;
    // Clicks a control of the layout in the window that shows it.
    void clickControl(WId window, const FormLayout& layout, const std::string& name, int index = -1) const {
        const QPoint at = middleOf(layout, name, index, size(static_cast<xcb_window_t>(window)));
        clickAt(window, at.x(), at.y());
    }

private:
    xcb_window_t screenRoot() const;
    xcb_atom_t atom(const char* name) const;
    qint64 owner(xcb_window_t window) const;
    bool viewable(xcb_window_t window, bool* overrideRedirect = nullptr) const;
    xcb_window_t shownBelow(xcb_window_t parent, pid_t program, qint64 host, bool insideHost) const;

    xcb_connection_t* connection_;
    xcb_atom_t pidAtom_;
};
