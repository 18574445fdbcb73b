#include "platform/qt/QtReadableWatch.h"

#include <QSocketNotifier>
#include <utility>

namespace {

class QtReadableWatch final : public ReadableWatch {
public:
    QtReadableWatch(int fd, std::function<void()> onReadable) : notifier_(fd, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated,
                         [onReadable = std::move(onReadable)] { onReadable(); });
    }

private:
    QSocketNotifier notifier_;
};

} // namespace

std::unique_ptr<ReadableWatch> watchReadableOnQtLoop(int fd, std::function<void()> onReadable) {
    return std::make_unique<QtReadableWatch>(fd, std::move(onReadable));
}
