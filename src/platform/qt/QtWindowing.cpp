#include "platform/qt/QtWindowing.h"

#include "platform/HeadlessWindowing.h"
#include "platform/linux/InstanceLock.h"
#include "platform/linux/OwnFolder.h"
#include "platform/qt/QtForm.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <xcb/xcb.h>

namespace {

QString text(const std::string& s) {
    // Messages break lines with CR LF, as the Windows build shows them.
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())).replace("\r\n", "\n");
}

QMessageBox::Icon qtIcon(MsgBoxIcon icon) {
    switch (icon) {
    case MsgBoxIcon::Information:
        return QMessageBox::Information;
    case MsgBoxIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgBoxIcon::Stop:
        return QMessageBox::Critical;
    case MsgBoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// A message box or prompt belongs to the window the user was in: it stays above that window, and the
// window is active again once the box has closed, as a Windows message box gives its owner back the
// focus (without a window manager nothing else would).
class ActiveOwner {
public:
    ActiveOwner() : owner_(QApplication::activeWindow()) {}
    ~ActiveOwner() {
        if (owner_ != nullptr && owner_->isVisible()) {
            owner_->activateWindow();
        }
    }
    ActiveOwner(const ActiveOwner&) = delete;
    ActiveOwner& operator=(const ActiveOwner&) = delete;
    QWidget* get() const { return owner_; }

private:
    QPointer<QWidget> owner_;
};

constexpr int32_t ShellSucceeded = 42; // any value above 32
constexpr int32_t NoAssociation = 31;  // SE_ERR_NOASSOC

} // namespace

QtWindowing::QtWindowing(QString instanceLock, std::string lockName)
    : instanceLock_(std::move(instanceLock)), lockName_(std::move(lockName)) {}

QtWindowing::~QtWindowing() = default;

bool QtWindowing::DisplayReachable() {
    // A DISPLAY that names a server that is gone (a dropped ssh forwarding, sudo from another session)
    // would make Qt abort; the program runs headless instead. Wayland desktops offer X through XWayland.
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        return false;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

std::unique_ptr<Form> QtWindowing::CreateForm(const FormLayout& layout, FormHandlers& handlers) {
    return std::make_unique<QtForm>(layout, handlers);
}

void QtWindowing::MsgBox(const std::string& prompt, MsgBoxIcon icon, const std::string& title) {
    const ActiveOwner owner;
    QMessageBox box(qtIcon(icon), text(title), text(prompt), QMessageBox::Ok, owner.get());
    box.exec();
}

std::optional<std::string> QtWindowing::InputBox(const std::string& prompt, const std::string& title,
                                                 const std::string& fallback) {
    const ActiveOwner owner;
    QInputDialog dialog(owner.get());
    dialog.setWindowTitle(text(title));
    dialog.setLabelText(text(prompt));
    dialog.setTextValue(text(fallback));
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue().toLocal8Bit().toStdString();
}

int QtWindowing::PopupMenu(const std::vector<std::string>& items) {
    QMenu menu;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == "-") {
            menu.addSeparator();
        } else {
            menu.addAction(text(items[i]))->setData(static_cast<int>(i));
        }
    }
    const QAction* chosen = menu.exec(QCursor::pos());
    return chosen != nullptr ? chosen->data().toInt() : -1;
}

void QtWindowing::DoEvents() {
    QCoreApplication::processEvents();
}

void QtWindowing::Pause(int milliseconds) {
    QElapsedTimer passed;
    passed.start();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    // The application's exit ends every loop at once; the caller counts on the whole time all the same.
    if (const qint64 left = milliseconds - passed.elapsed(); left > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(left));
    }
}

void QtWindowing::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

void QtWindowing::Run() {
    // A quit asked for before the loop started would be lost to it.
    if (!quit_) {
        QCoreApplication::exec();
    }
}

void QtWindowing::Quit() {
    quit_ = true;
    QCoreApplication::exit(0);
}

bool QtWindowing::PrevInstance() {
    if (!lock_) {
        if (instanceLock_.isEmpty()) {
            ResultWith<OwnFile> file = openOwnFile(lockName_);
            lock_ = std::make_unique<InstanceLock>(file ? ResultWith<UniqueFd>(std::move(file->fd)) : file.result());
        } else {
            const QByteArray path = QFile::encodeName(instanceLock_);
            UniqueFd file(::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
            const int error = errno;
            lock_ = std::make_unique<InstanceLock>(file.valid() ? ResultWith<UniqueFd>(std::move(file))
                                                                : Result::Errno(error, path.toStdString()));
        }
        // Where no other user could be kept from planting a lock, the program runs rather than let one
        // stop it; it cannot tell a second copy then.
        if (!lock_->problem().empty()) {
            std::fprintf(stderr, "quietwire: no instance lock (%s); a second copy of this user's cannot be told.\n",
                         lock_->problem().c_str());
        }
    }
    return lock_->heldElsewhere();
}

uint32_t QtWindowing::PrevInstanceId() {
    return lock_ && lock_->heldElsewhere() ? static_cast<uint32_t>(lock_->holder()) : 0;
}

// A hidden Qt program shows in no task list; there is nothing to take out.
void QtWindowing::HideFromTaskList() {}

int32_t QtWindowing::BringToFront(uintptr_t window) {
    QWidget* widget = QWidget::find(static_cast<WId>(window));
    if (widget == nullptr) {
        return 0;
    }
    widget->raise();
    widget->activateWindow();
    return 1;
}

int32_t QtWindowing::ShellOpen(const std::string& file, const std::string& directory, uintptr_t, const std::string&,
                               const std::string&) {
    // The desktop opens a document with its default application; it takes no verb and no parameters.
    QFileInfo info(text(file));
    if (info.isRelative() && !directory.empty()) {
        info = QFileInfo(QDir(text(directory)), text(file));
    }
    if (!info.exists()) {
        return 0;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? ShellSucceeded : NoAssociation;
}

std::unique_ptr<Windowing> makeSystemWindowing(bool headless) {
    auto windowing = std::make_unique<QtWindowing>();
    if (headless) {
        return std::make_unique<HeadlessWindowing>(std::move(windowing));
    }
    return windowing;
}
