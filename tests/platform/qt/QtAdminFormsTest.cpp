#include "admin/frmAdmin.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakeProgramInfo.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/RedirectedFileSystem.h"
#include "platform/AdminFormsConformance.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtWindowing.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
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

class QtAdminForms : public ::testing::Test {
protected:
    QtAdminForms() {
        resetSettings();
        modGlobals::AdminPassword = "Secret";
        modGlobals::StartTime = "22:00:00";
        modGlobals::EndTime = "06:00:00";
        setPorts({"443", "21, FTP", "110"});
    }
    ~QtAdminForms() override { resetSettings(); }

    // Runs show (which shows a form modally) while the user acts on the form's window once it is up.
    // A window the user left open is closed, so that a failed step cannot hang the test.
    static void asUser(const std::function<void()>& show, const std::function<void(QDialog*)>& user) {
        const ModalAnswer acting(
            [&user](QWidget* up) {
                auto* window = static_cast<QDialog*>(up);
                EXPECT_TRUE(QTest::qWaitForWindowActive(window));
                user(window);
                if (window->isVisible()) {
                    ADD_FAILURE() << "the window is still open";
                    window->done(0);
                }
            },
            "QDialog");
        show();
        EXPECT_TRUE(acting.answered()) << "the window never came up";
    }

    // Runs the user's action and answers the message box it opens with Enter; the box's text, or
    // nothing when none opened.
    static QString messageAfter(const std::function<void()>& action) {
        QString text;
        const ModalAnswer reading(
            [&text](QWidget* up) {
                text = static_cast<QMessageBox*>(up)->text();
                QTest::keyClick(up, Qt::Key_Return);
            },
            "QMessageBox");
        action();
        return text;
    }

    template <class T> static T* child(QWidget* window, const char* name) { return window->findChild<T*>(name); }

    QtWindowing windowing_;
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    FakeServiceControl service_;
    platform::ScopedInstall<ServiceControl> useService_{service_};
    FakeProgramInfo info_;
    platform::ScopedInstall<ProgramInfo> useInfo_{info_};
    FakeGuessLock guesses_;
    platform::ScopedInstall<GuessLock> useGuesses_{guesses_};
    TempDir dir_;
    RedirectedFileSystem files_{dir_.str()};
    platform::ScopedInstall<FileSystem> useFiles_{files_};
    platform::ScopedInstall<ProfileFile> useProfile_{systemProfileFile()};
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, AdminFormsConformance, QtAdminBackend);

TEST_F(QtAdminForms, AdminDialogEnterInTheListOrATimeBoxPressesOkAndAnAddedPortGoesLast) {
    QString startMessage;
    asUser([] { frmAdmin(0).Show(); },
           [&](QDialog* window) {
               auto* start = child<QLineEdit>(window, "Text1(0)");
               auto* end = child<QLineEdit>(window, "Text1(1)");
               auto* list = child<QListWidget>(window, "List1");
               auto* add = child<QPushButton>(window, "Command2");
               ASSERT_TRUE(start != nullptr && end != nullptr && list != nullptr && add != nullptr);

               const ModalAnswer typing(
                   [](QWidget* up) {
                       QTest::keyClicks(up->focusWidget(), "25");
                       QTest::keyClick(up->focusWidget(), Qt::Key_Return);
                   },
                   "QInputDialog");
               QTest::mouseClick(add, Qt::LeftButton);
               ASSERT_TRUE(typing.answered());

               QTest::mouseClick(start, Qt::LeftButton);
               QTest::keyClick(start, Qt::Key_A, Qt::ControlModifier);
               QTest::keyClicks(start, "25:00");
               QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
               startMessage = messageAfter([&] { QTest::keyClick(list, Qt::Key_Return); });
               ASSERT_TRUE(window->isVisible());

               QTest::mouseClick(start, Qt::LeftButton);
               QTest::keyClick(start, Qt::Key_A, Qt::ControlModifier);
               QTest::keyClicks(start, "7:30");
               QTest::mouseClick(end, Qt::LeftButton);
               QTest::keyClick(end, Qt::Key_Return);
           });
    EXPECT_EQ(startMessage, "Invalid time format for [START], please use time format HH:MM")
        << "Enter in the list pressed OK";
    EXPECT_EQ(modGlobals::StartTime, "07:30:00") << "Enter in the end box pressed OK";
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"443", "21, FTP", "110", "25"}));
    EXPECT_FALSE(readBytes(dir_.file("settings.ini")).empty()) << "OK saved the settings";
}
