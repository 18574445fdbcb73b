#pragma once

#include "platform/TrayShell.h"

#include <QIcon>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QDBusServiceWatcher;
class QSystemTrayIcon;

// The notification area of the Linux desktop through QSystemTrayIcon. Its activations come to the
// hooked window's sink as the shell's mouse messages: a right click as button-2 down and up, a left
// click as button-1 down and up, a double click as a left double click. The program's one instance,
// systemTrayShell(), is made at its first use, which must come after the QApplication's creation,
// and goes with the QApplication.
class QtTrayShell final : public TrayShell {
public:
    QtTrayShell();
    ~QtTrayShell() override;

    bool NotifyIcon(uint32_t message, const TrayIconData& data) override;
    // Non-zero exactly while Qt can show a tray icon, through the XEmbed tray of X11 or a
    // StatusNotifierWatcher on the session bus; 0 when there is none. A tray host seen replacing
    // another (the tray selection or the watcher's bus name changing hands) gives a new value.
    uintptr_t TaskbarWindow() override;
    void HookWindow(uintptr_t window, TrayMessageSink& sink) override;
    void UnhookWindow(uintptr_t window) override;
    bool ShowNotification(uintptr_t window, uint32_t id, const std::string& title, const std::string& text) override;

    // The program's pictures on this backend: an icon handle for each QIcon.
    static uintptr_t RegisterIcon(const QIcon& icon);
    static QIcon IconOf(uintptr_t handle);

    // The icon added for window and id, or nullptr.
    QSystemTrayIcon* Icon(uintptr_t window, uint32_t id) const;

private:
    // Marks a click (or other activation) of an icon as under way while its handlers run.
    class Activation {
    public:
        explicit Activation(QtTrayShell& shell);
        ~Activation();
        Activation(const Activation&) = delete;
        Activation& operator=(const Activation&) = delete;

    private:
        QtTrayShell& shell_;
    };

    void deliver(uintptr_t window, uint32_t id, uint32_t mouseMessage);

    std::map<std::pair<uintptr_t, uint32_t>, std::unique_ptr<QSystemTrayIcon>> icons_;
    // Icons deleted while an activation was under way, kept until it has returned.
    std::vector<std::unique_ptr<QSystemTrayIcon>> removed_;
    int activations_ = 0;
    std::map<uintptr_t, TrayMessageSink*> sinks_;

    struct TrayHost {
        uintptr_t xembedOwner = 0;
        QString watcherOwner;
        bool operator==(const TrayHost&) const = default;
    };
    std::optional<TrayHost> host_; // as last seen; none while there was no tray
    uint32_t generation_ = 0;
    bool watcherChanged_ = false; // the watcher's bus name changed hands since then
    std::unique_ptr<QDBusServiceWatcher> watcherWatch_;
};
