#pragma once

#include "platform/qt/QtTrayShell.h"
#include "tray/VeskTray.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QProcess>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

// What the tray tests on a real display share: waiting on the event loop, a helper process (the
// tray host), and a component host that records the tray's mouse events.

inline bool waitUntil(const std::function<bool()>& done, int millis = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > millis) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// A program the test runs beside itself and ends when it likes (or at the end of its scope).
class HelperProcess {
public:
    HelperProcess(QString program, QStringList arguments)
        : program_(std::move(program)), arguments_(std::move(arguments)) {}
    ~HelperProcess() { stop(); }
    bool start() {
        process_.start(program_, arguments_);
        return process_.waitForStarted();
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    QProcess& process() { return process_; }

private:
    QString program_;
    QStringList arguments_;
    QProcess process_;
};

// Debian's trayer: an XEmbed tray at the top of the screen.
inline HelperProcess trayer() {
    return HelperProcess("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                                    "--transparent", "false", "--expand", "true"});
}

class RecordingHost : public VeskTrayHost {
public:
    std::vector<std::string> events;
    std::function<void(int16_t button)> onMouseDown;

    bool UserMode() const override { return true; }
    void MouseDown(int16_t Button, int32_t Id) override {
        events.push_back("MouseDown " + std::to_string(Button) + " " + std::to_string(Id));
        if (onMouseDown) {
            onMouseDown(Button);
        }
    }
    void MouseUp(int16_t Button, int32_t Id) override {
        events.push_back("MouseUp " + std::to_string(Button) + " " + std::to_string(Id));
    }
    bool saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
};

// A plain yellow square as the tray picture.
inline PictureRef yellowTrayPicture() {
    QPixmap yellow(16, 16);
    yellow.fill(Qt::yellow);
    return std::make_shared<const Picture>(Picture{PictureType::Icon, QtTrayShell::RegisterIcon(QIcon(yellow))});
}
