#include "platform/linux/LinuxControlChannel.h"
#include "platform/qt/QtReadableWatch.h"

#include <QTimer>

namespace {

void laterOnQtLoop(int milliseconds, std::function<void()> run) {
    QTimer::singleShot(milliseconds, [run = std::move(run)] { run(); });
}

} // namespace

// The channel's two ends with what they hear read from the Qt event loop.
ControlServer& systemControlServer() {
    static LinuxControlServer instance(watchReadableOnQtLoop, laterOnQtLoop, controlChannelPath());
    return instance;
}

ControlClient& systemControlClient() {
    static LinuxControlClient instance(watchReadableOnQtLoop, controlChannelPath());
    return instance;
}
