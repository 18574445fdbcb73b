#pragma once

#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"
#include "platform/qt/QtTrayShell.h"
#include "tray/VeskTray.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the tray tests on a real display share: waiting on the event loop, helper processes (the tray
// host), a component host that records the tray's mouse events, and the component on the program's
// tray shell.

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

// The program's tray shell on a real display, with a VeskTray (a plain yellow square, tip "Vesk
// Quietwire") on window 1 as the program has one.
class QtTrayFixture : public ::testing::Test {
protected:
    void SetUp() override {
        if (qApp == nullptr) {
            GTEST_SKIP() << "no X display (run through xvfb-run)";
        }
        shell_ = &dynamic_cast<QtTrayShell&>(systemTrayShell());
        useShell_.emplace(*shell_);
        QPixmap yellow(16, 16);
        yellow.fill(Qt::yellow);
        tray_ = std::make_unique<VeskTray>(
            1, events_,
            std::make_shared<const Picture>(Picture{PictureType::Icon, QtTrayShell::RegisterIcon(QIcon(yellow))}));
        tray_->InitProperties();
        tray_->TrayTip("Vesk Quietwire");
    }
    void TearDown() override { tray_.reset(); }

    QtTrayShell& shell() { return *shell_; }

    FakeWindowing windowing_;
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    RecordingHost events_;
    std::unique_ptr<VeskTray> tray_;

private:
    QtTrayShell* shell_ = nullptr;
    std::optional<platform::ScopedInstall<TrayShell>> useShell_;
};
