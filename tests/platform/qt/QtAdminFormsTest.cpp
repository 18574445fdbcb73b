#include "platform/AdminFormsConformance.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtWindowing.h"

#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

// The real password prompt and administration dialog on the Qt backend, offscreen, driven through
// their controls with keys and mouse clicks as a user drives them.
namespace {

struct QtAdminBackend {
    using Window = QWidget*;

    static std::unique_ptr<Windowing> windowing() { return std::make_unique<QtWindowing>(); }
    static std::unique_ptr<QTimer> everyTick(std::function<void()> tick) {
        auto timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, std::move(tick));
        timer->start(30);
        return timer;
    }
    static QWidget* shownForm(const std::string& caption) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isActiveWindow() && qobject_cast<QMessageBox*>(w) == nullptr &&
                w->windowTitle().toStdString() == caption) {
                return w;
            }
        }
        return nullptr;
    }
    static QWidget* messageBox() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && qobject_cast<QMessageBox*>(w) != nullptr) {
                return w;
            }
        }
        return nullptr;
    }
    static std::string messageText(QWidget* box) { return static_cast<QMessageBox*>(box)->text().toStdString(); }
    static QWidget* control(QWidget* form, const std::string& name, int index) {
        return form->findChild<QWidget*>(
            QString::fromStdString(index >= 0 ? name + "(" + std::to_string(index) + ")" : name));
    }
    static std::string text(QWidget* w) { return qobject_cast<QLineEdit*>(w)->text().toStdString(); }
    static bool focused(QWidget* w) { return QApplication::focusWidget() == w; }
    static bool enabled(QWidget* w) { return w->isEnabled(); }
    static bool bold(QWidget* w) { return w->font().bold(); }
    static char passwordChar(QWidget* w) {
        const QString shown = qobject_cast<QLineEdit*>(w)->displayText();
        return shown.isEmpty() ? '\0' : shown.at(0).toLatin1();
    }
    static std::pair<int, int> selection(QWidget* w) {
        const auto* edit = qobject_cast<QLineEdit*>(w);
        return {edit->selectionStart(), edit->selectionStart() + edit->selectionLength()};
    }
    static void selectItem(QWidget* list, int entry) { qobject_cast<QListWidget*>(list)->setCurrentRow(entry); }
    static QWidget* inputPrompt(const std::string& title) {
        QWidget* up = QApplication::activeModalWidget();
        return qobject_cast<QInputDialog*>(up) != nullptr && up->isActiveWindow() &&
                       up->windowTitle().toStdString() == title
                   ? up->findChild<QLineEdit*>()
                   : nullptr;
    }
    static std::vector<std::string> listItems(QWidget* w) {
        const auto* list = qobject_cast<QListWidget*>(w);
        std::vector<std::string> items;
        for (int i = 0; i < list->count(); ++i) {
            items.push_back(list->item(i)->text().toStdString());
        }
        return items;
    }
    static void focus(QWidget* w) { w->setFocus(); }
    static void setText(QWidget* w, const std::string& text) {
        qobject_cast<QLineEdit*>(w)->setText(QString::fromStdString(text));
    }
    static void type(QWidget* w, const std::string& text) {
        later(w, [w, text] { QTest::keyClicks(w, QString::fromStdString(text)); });
    }
    static void press(QWidget* w, UserKey key) {
        const Qt::Key qtKey = key == UserKey::Tab     ? Qt::Key_Tab
                              : key == UserKey::Enter ? Qt::Key_Return
                                                      : Qt::Key_Escape;
        later(w, [w, qtKey] { QTest::keyClick(w, qtKey); });
    }
    static void click(QWidget* button) {
        later(button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    }
    // As the window manager's close button sends it.
    static void closeBox(QWidget* form) {
        later(form, [form] {
            QCloseEvent closeBox;
            QApplication::sendEvent(form->windowHandle(), &closeBox);
        });
    }
    static void answerOk(QWidget* box) {
        later(box, [box] { QTest::keyClick(box, Qt::Key_Return); });
    }

private:
    // From the event loop, as the user's input arrives; what it starts runs in the program's loops.
    static void later(QWidget* w, std::function<void()> input) {
        QMetaObject::invokeMethod(w, std::move(input), Qt::QueuedConnection);
    }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, AdminFormsConformance, QtAdminBackend);
