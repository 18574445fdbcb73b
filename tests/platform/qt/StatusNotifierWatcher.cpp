#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

// A StatusNotifierWatcher for the tray tests, the part of a desktop's tray (KDE Plasma, GNOME's
// AppIndicator extension) that programs register their icons with. It writes "ready" to standard
// output once it owns its bus name and "item SERVICE" for each icon registered with it; a line
// "again" on standard input makes it give up its bus name and take it again, as a restarted shell
// would that kept its connection.
namespace {

const QString WatcherService = "org.kde.StatusNotifierWatcher";

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class StatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit StatusNotifierWatcher(const QDBusConnection& bus)
        : departures_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration) {
        connect(&departures_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& service) {
            departures_.removeWatchedService(service);
            for (const QString& item : QStringList(items_)) {
                if (item == service || item.startsWith(service + '/')) {
                    items_.removeAll(item);
                    emit StatusNotifierItemUnregistered(item);
                }
            }
        });
    }

    QStringList registeredItems() const { return items_; }
    // The test's desktop always has a host showing the icons.
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    // An item names its bus name, or only its object path on the connection that calls.
    void RegisterStatusNotifierItem(const QString& service) {
        const QString caller = message().service();
        const QString item = service.startsWith('/') ? caller + service : service;
        items_.append(item);
        departures_.addWatchedService(service.startsWith('/') ? caller : service);
        say("item " + item);
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString& service) {
        Q_UNUSED(service);
        emit StatusNotifierHostRegistered();
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
    QDBusServiceWatcher departures_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    StatusNotifierWatcher watcher(bus);
    if (!bus.registerObject("/StatusNotifierWatcher", &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(WatcherService)) {
        std::fprintf(stderr, "status notifier watcher: no session bus, or the name is taken\n");
        return 1;
    }
    say("ready");

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64];
        const ssize_t n = read(STDIN_FILENO, line, sizeof line);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        if (QByteArray(line, n).trimmed() == "again" && bus.unregisterService(WatcherService) &&
            bus.registerService(WatcherService)) {
            say("ready");
        }
    });
    return app.exec();
}

#include "StatusNotifierWatcher.moc"
