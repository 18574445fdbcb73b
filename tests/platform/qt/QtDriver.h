#pragma once

#include "platform/FormGeometry.h"
#include "platform/Forms.h"
#include "platform/WindowingDriver.h"
#include "platform/qt/QtForm.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtWindowing.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

// The Qt backend as the conformance suites see it, offscreen: what the screen shows, and a user's keys
// and clicks.
struct QtDriver {
    using Window = QWidget*;

    static std::unique_ptr<Windowing> windowing() { return std::make_unique<QtWindowing>(); }
    static std::unique_ptr<Windowing> windowing(const TempDir& locks) {
        return std::make_unique<QtWindowing>(QString::fromStdString(locks.file("quietwire.lock")));
    }
    static uint32_t processId() { return static_cast<uint32_t>(::getpid()); }

    // A form and its controls.
    static QWidget* window(const Form& form) { return dynamic_cast<const QtForm&>(form).window(); }
    static QWidget* control(QWidget* form, const std::string& name, int index) {
        return form->findChild<QWidget*>(
            QString::fromStdString(index >= 0 ? name + "(" + std::to_string(index) + ")" : name));
    }
    static QWidget* control(const Form& form, const std::string& name, int index) {
        return control(window(form), name, index);
    }
    static double dotsPerInch() { return QGuiApplication::primaryScreen()->logicalDotsPerInch(); }
    static std::string title(QWidget* form) { return form->windowTitle().toStdString(); }
    static PixelRect clientArea(QWidget* form) { return {0, 0, form->width(), form->height()}; }
    static PixelRect onForm(QWidget* form, QWidget* w) {
        const QPoint at = w->mapTo(form, QPoint(0, 0));
        return {at.x(), at.y(), w->width(), w->height()};
    }

    // What a control shows.
    static std::string text(QWidget* w) { return qobject_cast<QLineEdit*>(w)->text().toStdString(); }
    static bool focused(QWidget* w) { return QApplication::focusWidget() == w; }
    static bool checked(QWidget* w) { return qobject_cast<QAbstractButton*>(w)->isChecked(); }
    static bool enabled(QWidget* w) { return w->isEnabled(); }
    static bool bold(QWidget* w) { return w->font().bold(); }
    static double fontSize(QWidget* w) { return w->font().pointSizeF(); }
    static char passwordChar(QWidget* w) {
        auto* edit = qobject_cast<QLineEdit*>(w);
        edit->ensurePolished();
        return edit->echoMode() == QLineEdit::Password
                   ? static_cast<char>(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit))
                   : '\0';
    }
    static std::pair<int, int> selection(QWidget* w) {
        const auto* edit = qobject_cast<QLineEdit*>(w);
        return {edit->selectionStart(), edit->selectionStart() + edit->selectionLength()};
    }
    static std::vector<std::string> listItems(QWidget* w) {
        const auto* list = qobject_cast<QListWidget*>(w);
        std::vector<std::string> items;
        for (int i = 0; i < list->count(); ++i) {
            items.push_back(list->item(i)->text().toStdString());
        }
        return items;
    }
    static bool showsWholeCaption(QWidget* w, const ControlLayout&) {
        if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
            return QFontMetrics(frame->font()).horizontalAdvance(frame->title()) <= frame->width();
        }
        const auto* label = qobject_cast<const QLabel*>(w);
        return label->minimumSizeHint().width() <= label->width() &&
               label->heightForWidth(label->width()) <= label->height();
    }

    // Windows that are up.
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
    static QWidget* inputPrompt(const std::string& title) {
        QWidget* up = QApplication::activeModalWidget();
        return qobject_cast<QInputDialog*>(up) != nullptr && up->isActiveWindow() &&
                       up->windowTitle().toStdString() == title
                   ? up->findChild<QLineEdit*>()
                   : nullptr;
    }
    static bool inFront(QWidget* form) { return QTest::qWaitForWindowActive(form); }

    // The user's input. Set at once:
    static void activate(Form& form) {
        form.Show(false);
        QApplication::setActiveWindow(window(form));
        EXPECT_TRUE(QTest::qWaitForWindowActive(window(form)));
    }
    static void focus(QWidget* w) { w->setFocus(); }
    static void setText(QWidget* w, const std::string& text) {
        qobject_cast<QLineEdit*>(w)->setText(QString::fromStdString(text));
    }
    static void selectItem(QWidget* list, int entry) { qobject_cast<QListWidget*>(list)->setCurrentRow(entry); }
    // Posted, so that what it starts runs in the program's own loops, as the user's input does:
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
    // Lets the program handle the input posted so far.
    static void pump() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }

    // Dialogs still to come up, each answered while what these give lives.
    static std::string visibleLineBreak() { return "\n"; }
    static std::unique_ptr<ModalAnswer> answerMessageBox(std::string& title, std::string& text) {
        return std::make_unique<ModalAnswer>(
            [&](QWidget* up) {
                auto* box = static_cast<QMessageBox*>(up);
                title = box->windowTitle().toStdString();
                text = box->text().toStdString();
                box->button(QMessageBox::Ok)->click();
            },
            "QMessageBox");
    }
    static std::unique_ptr<ModalAnswer> answerInputBox(const std::string&, std::optional<std::string> typed,
                                                       std::string& shown) {
        return std::make_unique<ModalAnswer>(
            [&shown, typed](QWidget* up) {
                auto* dialog = static_cast<QInputDialog*>(up);
                shown = dialog->textValue().toStdString();
                if (!typed) {
                    dialog->reject();
                    return;
                }
                dialog->setTextValue(QString::fromStdString(*typed));
                dialog->accept();
            },
            "QInputDialog");
    }
    static std::unique_ptr<ModalAnswer> choose(const std::vector<std::string>&, int item) {
        return std::make_unique<ModalAnswer>(
            [item](QWidget* up) {
                auto* menu = static_cast<QMenu*>(up);
                if (item >= 0) {
                    menu->setActiveAction(menu->actions().at(item));
                }
                QTest::keyClick(menu, item >= 0 ? Qt::Key_Return : Qt::Key_Escape);
            },
            "QMenu");
    }

private:
    static void later(QWidget* w, std::function<void()> input) {
        QMetaObject::invokeMethod(w, std::move(input), Qt::QueuedConnection);
    }
};
