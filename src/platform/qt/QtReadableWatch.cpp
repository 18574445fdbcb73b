#include "platform/qt/QtReadableWatch.h"

#include <QSocketNotifier>
#include <utility>

namespace {

class QtReadableWatch final : public ReadableWatch {
public:
    QtReadableWatch(int fd, std::function<void()> onReadable)
        : notifier_(new QSocketNotifier(fd, QSocketNotifier::Read)) {
        QObject::connect(notifier_, &QSocketNotifier::activated,
                         [onReadable = std::move(onReadable)] { onReadable(); });
    }
    // A watch may end from its own handler (a peer dropped when its end is read): the notifier goes once the
    // loop is back, and hears nothing more meanwhile.
    ~QtReadableWatch() override {
        notifier_->setEnabled(false);
        QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
        notifier_->deleteLater();
    }
    QtReadableWatch(const QtReadableWatch&) = delete;
    QtReadableWatch& operator=(const QtReadableWatch&) = delete;

private:
    QSocketNotifier* notifier_;
};

} // namespace

std::unique_ptr<ReadableWatch> watchReadableOnQtLoop(int fd, std::function<void()> onReadable) {
    return std::make_unique<QtReadableWatch>(fd, std::move(onReadable));
}
