#include "platform/qt/QtTrayShell.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <cstring>
#include <string>
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>

namespace {

std::map<uintptr_t, QIcon>& icons() {
    static std::map<uintptr_t, QIcon> table;
    return table;
}

QString tipText(const char (&field)[64]) {
    const void* nul = std::memchr(field, '\0', sizeof field);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : sizeof field;
    return QString::fromLocal8Bit(field, static_cast<qsizetype>(length));
}

// The owner of the X11 system tray selection of the default screen, 0 when there is none.
uintptr_t x11TrayOwner(xcb_connection_t* connection) {
    const std::string name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (atom == nullptr) {
        return 0;
    }
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const uintptr_t window = owner != nullptr ? owner->owner : 0;
    free(owner);
    free(atom);
    return window;
}

// The owner of the X11 system tray selection, 0 when there is none or no X server (offscreen, Wayland).
uintptr_t xembedTrayOwner() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr && x11->connection() != nullptr ? x11TrayOwner(x11->connection()) : 0;
}

// Desktops that show icons through the StatusNotifierItem protocol (KDE Plasma, GNOME's AppIndicator
// extension, Wayland sessions) run a watcher under this name on the session bus.
const QString WatcherService = "org.kde.StatusNotifierWatcher";

// The unique bus name of the connection that owns the watcher's name, empty when none does.
QString watcherOwner() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr) {
        return {};
    }
    const QDBusReply<QString> owner = bus->serviceOwner(WatcherService);
    return owner.isValid() ? owner.value() : QString();
}

} // namespace

QtTrayShell::QtTrayShell()
    : watcherWatch_(std::make_unique<QDBusServiceWatcher>(WatcherService, QDBusConnection::sessionBus(),
                                                          QDBusServiceWatcher::WatchForOwnerChange)) {
    QObject::connect(watcherWatch_.get(), &QDBusServiceWatcher::serviceOwnerChanged, watcherWatch_.get(),
                     [this] { watcherChanged_ = true; });
}

QtTrayShell::~QtTrayShell() = default;

uintptr_t QtTrayShell::RegisterIcon(const QIcon& icon) {
    const uintptr_t handle = icons().size() + 1;
    icons()[handle] = icon;
    return handle;
}

QIcon QtTrayShell::IconOf(uintptr_t handle) {
    const auto it = icons().find(handle);
    return it != icons().end() ? it->second : QIcon();
}

// The desktop's notification service where there is one; else Qt's own balloon at the icon.
bool QtTrayShell::ShowNotification(uintptr_t window, uint32_t id, const std::string& title, const std::string& text) {
    QSystemTrayIcon* icon = Icon(window, id);
    if (icon == nullptr || !icon->isVisible()) {
        return false;
    }
    icon->showMessage(QString::fromLocal8Bit(title), QString::fromLocal8Bit(text), QSystemTrayIcon::Warning);
    return true;
}

QSystemTrayIcon* QtTrayShell::Icon(uintptr_t window, uint32_t id) const {
    const auto it = icons_.find({window, id});
    return it != icons_.end() ? it->second.get() : nullptr;
}

QtTrayShell::Activation::Activation(QtTrayShell& shell) : shell_(shell) {
    ++shell_.activations_;
}

QtTrayShell::Activation::~Activation() {
    if (--shell_.activations_ == 0) {
        for (std::unique_ptr<QSystemTrayIcon>& icon : shell_.removed_) {
            icon.release()->deleteLater(); // once the event loop has the click behind it
        }
        shell_.removed_.clear();
    }
}

void QtTrayShell::deliver(uintptr_t window, uint32_t id, uint32_t mouseMessage) {
    const auto it = sinks_.find(window);
    if (it != sinks_.end()) {
        it->second->HandleTrayMessage(mouseMessage, id);
    }
}

bool QtTrayShell::NotifyIcon(uint32_t message, const TrayIconData& data) {
    const std::pair<uintptr_t, uint32_t> key{data.hWnd, data.uID};
    if (message == TrayMessage::Delete) {
        const auto it = icons_.find(key);
        if (it == icons_.end()) {
            return false;
        }
        std::unique_ptr<QSystemTrayIcon> icon = std::move(it->second);
        icons_.erase(it);
        if (activations_ > 0) {
            // Hiding or deleting it now would delete the window whose click Qt is still handling; it
            // goes once the click has returned, and reports nothing more until then.
            QObject::disconnect(icon.get(), &QSystemTrayIcon::activated, nullptr, nullptr);
            removed_.push_back(std::move(icon));
        }
        return true;
    }
    QSystemTrayIcon* icon = Icon(data.hWnd, data.uID);
    if (message == TrayMessage::Add) {
        if (icon != nullptr) {
            return false; // the shell refuses a second add of the same icon
        }
        auto added = std::make_unique<QSystemTrayIcon>();
        icon = added.get();
        const uintptr_t window = data.hWnd;
        const uint32_t id = data.uID;
        QObject::connect(icon, &QSystemTrayIcon::activated, [this, window, id](QSystemTrayIcon::ActivationReason why) {
            const Activation underWay(*this);
            switch (why) {
            case QSystemTrayIcon::Context:
                deliver(window, id, MouseMessage::RightDown);
                deliver(window, id, MouseMessage::RightUp);
                break;
            case QSystemTrayIcon::DoubleClick:
                deliver(window, id, MouseMessage::LeftDouble);
                break;
            case QSystemTrayIcon::Trigger:
                deliver(window, id, MouseMessage::LeftDown);
                deliver(window, id, MouseMessage::LeftUp);
                break;
            case QSystemTrayIcon::MiddleClick:
                deliver(window, id, MouseMessage::MiddleUp);
                break;
            case QSystemTrayIcon::Unknown:
                break;
            }
        });
        icons_[key] = std::move(added);
    } else if (icon == nullptr) {
        return false;
    }
    if (data.uFlags & TrayFlag::Icon) {
        icon->setIcon(IconOf(data.hIcon));
    }
    if (data.uFlags & TrayFlag::Tip) {
        icon->setToolTip(tipText(data.szTip));
    }
    icon->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

uintptr_t QtTrayShell::TaskbarWindow() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        host_.reset();
        return 0;
    }
    const TrayHost now{xembedTrayOwner(), watcherOwner()};
    // X reuses a departed client's window ids, and a watcher may give up its bus name and take it
    // again on the same connection: so a tray seen gone and back, or a change of the watcher's owner
    // noticed meanwhile, starts a new generation too, which is part of the value.
    if (!host_ || *host_ != now || watcherChanged_) {
        ++generation_;
    }
    host_ = now;
    watcherChanged_ = false;
    static_assert(sizeof(uintptr_t) == 8, "the generation sits above the 32-bit X window id");
    return (static_cast<uintptr_t>(generation_) << 32) | now.xembedOwner;
}

void QtTrayShell::HookWindow(uintptr_t window, TrayMessageSink& sink) {
    sinks_[window] = &sink;
}
void QtTrayShell::UnhookWindow(uintptr_t window) {
    sinks_.erase(window);
}

namespace {

std::unique_ptr<QtTrayShell>& programShell() {
    static std::unique_ptr<QtTrayShell> shell;
    return shell;
}

} // namespace

TrayShell& systemTrayShell() {
    if (!programShell()) {
        programShell() = std::make_unique<QtTrayShell>();
        // Its icons are widgets: they go first thing in the QApplication's destructor, while Qt can
        // still take them out of the tray.
        qAddPostRoutine([] { programShell().reset(); });
    }
    return *programShell();
}
