#include "program/ProgramDisplay.h"

#include "platform/qt/QtTrayTestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>

#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<std::string> displayEnvironment() {
    std::vector<std::string> session;
    for (const char* name : {"DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (const char* value = std::getenv(name)) {
            session.push_back(std::string(name) + "=" + value);
        }
    }
    return session;
}

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

WId programWindow(pid_t program, const QString& title) {
    const QString found =
        xdotool({"search", "--all", "--onlyvisible", "--pid", QString::number(program), "--name", "^" + title + "$"});
    WId newest = 0; // X gives each process's windows rising ids
    for (const QString& window : found.split('\n', Qt::SkipEmptyParts)) {
        newest = std::max<WId>(newest, window.toULongLong());
    }
    return newest;
}

WId messageBox(pid_t program) {
    return programWindow(program, "QWADMIN");
}

// A click into the box's text (its label spans the middle, right of the icon, from the top margin
// down), select all, copy.
std::string messageBoxText(WId box) {
    QGuiApplication::clipboard()->clear();
    xdotool({"windowraise", QString::number(box)});
    xdotool({"windowfocus", "--sync", QString::number(box)});
    const QStringList geometry = xdotool({"getwindowgeometry", "--shell", QString::number(box)}).split('\n');
    const int width = geometry.filter("WIDTH=").value(0).section('=', 1).toInt();
    clickAt(box, width / 2, 20);
    xdotool({"key", "ctrl+a", "ctrl+c"});
    QString text;
    waitUntil([&] {
        text = QGuiApplication::clipboard()->text();
        return !text.isEmpty();
    });
    return text.remove('\r').toStdString();
}

void clickAt(WId window, int x, int y, int button) {
    xdotool({"mousemove", "--window", QString::number(window), QString::number(x), QString::number(y), "click",
             QString::number(button)});
}

QPoint middleOf(const FormLayout& layout, const std::string& name, int index, QSize window) {
    QPoint twips;
    std::string control = name;
    for (int inner = index; !control.empty(); inner = -1) {
        const auto c = std::find_if(layout.controls.begin(), layout.controls.end(), [&](const ControlLayout& row) {
            return row.name == control && row.index == inner;
        });
        if (c == layout.controls.end()) {
            return {};
        }
        twips += QPoint(c->left, c->top) + (control == name ? QPoint(c->width / 2, c->height / 2) : QPoint());
        control = c->container;
    }
    return {twips.x() * window.width() / layout.clientWidth, twips.y() * window.height() / layout.clientHeight};
}

std::string screenshot(const std::string& name) {
    const QString folder = QW_ARTEFACTS_DIR;
    const QString path = folder + "/" + QString::fromStdString(name) + ".png";
    QDir().mkpath(folder);
    QFile::remove(path);
    QThread::msleep(300); // what was just shown is painted
    if (QProcess::execute("import", {"-window", "root", path}) != 0 || QFileInfo(path).size() == 0) {
        return {};
    }
    std::printf("screenshot: %s\n", qPrintable(path));
    return path.toStdString();
}

XWindows::XWindows()
    : connection_(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection()),
      pidAtom_(atom("_NET_WM_PID")) {}

xcb_window_t XWindows::screenRoot() const {
    return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

xcb_atom_t XWindows::atom(const char* name) const {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return found;
}

// The process that made the window (_NET_WM_PID), or 0.
qint64 XWindows::owner(xcb_window_t window) const {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, pidAtom_, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    const qint64 pid = reply != nullptr && xcb_get_property_value_length(reply) == 4
                           ? *static_cast<const uint32_t*>(xcb_get_property_value(reply))
                           : 0;
    free(reply);
    return pid;
}

bool XWindows::viewable(xcb_window_t window, bool* overrideRedirect) const {
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
    const bool shown = attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (overrideRedirect != nullptr) {
        *overrideRedirect = attributes != nullptr && attributes->override_redirect != 0;
    }
    free(attributes);
    return shown;
}

xcb_window_t XWindows::shownBelow(xcb_window_t parent, pid_t program, qint64 host, bool insideHost) const {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, parent), nullptr);
    if (tree == nullptr) {
        return 0;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    xcb_window_t found = 0;
    for (int i = 0; i < count && found == 0; ++i) {
        const qint64 pid = owner(children[i]);
        const bool inside = insideHost || pid == host;
        found = inside && pid == program && viewable(children[i]) ? children[i]
                                                                  : shownBelow(children[i], program, host, inside);
    }
    free(tree);
    return found;
}

xcb_window_t XWindows::popup(pid_t program) const {
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, screenRoot()), nullptr);
    if (tree == nullptr) {
        return 0;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree);
    xcb_window_t found = 0;
    for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0 && found == 0; --i) { // topmost first
        bool unmanaged = false;
        if (owner(children[i]) == program && viewable(children[i], &unmanaged) && unmanaged) {
            found = children[i];
        }
    }
    free(tree);
    return found;
}

std::optional<ProgramIcon> XWindows::keyShown(xcb_window_t icon) const {
    const QSize shown = size(icon);
    xcb_get_image_reply_t* image = xcb_get_image_reply(connection_,
                                                       xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, icon, 0, 0,
                                                                     static_cast<uint16_t>(shown.width()),
                                                                     static_cast<uint16_t>(shown.height()), ~0u),
                                                       nullptr);
    int yellow = 0;
    int red = 0;
    if (image != nullptr && image->depth >= 24) { // 32 bits a pixel: blue, green, red, unused
        const uint8_t* pixel = xcb_get_image_data(image);
        for (int left = xcb_get_image_data_length(image); left >= 4; left -= 4, pixel += 4) {
            yellow += pixel[2] > 200 && pixel[1] > 150 && pixel[0] < 100 ? 1 : 0;
            red += pixel[2] > 150 && pixel[1] < 60 && pixel[0] < 60 ? 1 : 0;
        }
    }
    free(image);
    constexpr int KeyPixels = 4; // more than a stray pixel of the tray's own
    if (yellow > KeyPixels && red == 0) {
        return ProgramIcon::Open;
    }
    if (red > KeyPixels && yellow == 0) {
        return ProgramIcon::Blocked;
    }
    return std::nullopt;
}

QSize XWindows::size(xcb_window_t window) const {
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    const QSize found = geometry != nullptr ? QSize(geometry->width, geometry->height) : QSize();
    free(geometry);
    return found;
}

xcb_window_t XWindows::trayOwner() const {
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, atom("_NET_SYSTEM_TRAY_S0")), nullptr);
    const xcb_window_t owner = reply != nullptr ? reply->owner : xcb_window_t{XCB_NONE};
    free(reply);
    return owner;
}
