#include "admin/frmAdmin.h"
#include "admin/frmPassword.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakeProgramInfo.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/RedirectedFileSystem.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtWindowing.h"
#include "support/Settings.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
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

TEST_F(QtAdminForms, PasswordPromptMasksTheEntryAndSelectsARefusedOneForOvertyping) {
    QString message;
    asUser([] { frmPassword(0).Show(); },
           [&](QDialog* window) {
               auto* text = child<QLineEdit>(window, "Text1");
               auto* ok = child<QPushButton>(window, "Command1(0)");
               ASSERT_TRUE(text != nullptr && ok != nullptr);
               EXPECT_EQ(QApplication::focusWidget(), text) << "the box has the focus when the prompt opens";
               QTest::keyClicks(text, "secret");
               EXPECT_EQ(text->displayText(), "******");
               QTest::keyClick(text, Qt::Key_Escape);
               EXPECT_TRUE(window->isVisible()) << "Esc closed the prompt";

               message = messageAfter([&] { QTest::mouseClick(ok, Qt::LeftButton); });
               EXPECT_TRUE(QTest::qWaitForWindowActive(window));
               EXPECT_EQ(QApplication::focusWidget(), text) << "the focus is back in the box";
               EXPECT_EQ(text->selectionStart(), 0);
               EXPECT_EQ(text->selectionLength(), 6);
               QTest::keyClicks(text, "Secret");
               EXPECT_EQ(text->text(), "Secret") << "typing replaced the refused entry";
               QTest::keyClick(text, Qt::Key_Return);
           });
    EXPECT_EQ(message, "Invalid password!");
    EXPECT_TRUE(modGlobals::PasswordOK) << "Enter in the box pressed OK";
}

TEST_F(QtAdminForms, DuringAWrongPasswordsSecondThePromptKeepsAnsweringWithOkOutOfReach) {
    bool okDuringWait = true;
    QString typedDuringWait;
    qint64 answeredAfter = 0;
    asUser([] { frmPassword(0).Show(); },
           [&](QDialog* window) {
               auto* text = child<QLineEdit>(window, "Text1");
               auto* ok = child<QPushButton>(window, "Command1(0)");
               ASSERT_TRUE(text != nullptr && ok != nullptr);
               QTest::keyClicks(text, "secret");
               QTimer::singleShot(300, [&] {
                   okDuringWait = ok->isEnabled();
                   QTest::keyClick(text, Qt::Key_Return); // pressing OK again starts no second check
                   QTest::keyClicks(text, "!");
                   typedDuringWait = text->text();
               });
               QElapsedTimer clock;
               clock.start();
               const QString message = messageAfter([&] { QTest::mouseClick(ok, Qt::LeftButton); });
               answeredAfter = clock.elapsed();
               EXPECT_EQ(message, "Invalid password!");
               EXPECT_TRUE(ok->isEnabled());
               EXPECT_EQ(text->selectionLength(), 7) << "the whole entry is selected, as after any refusal";
               QTest::mouseClick(child<QPushButton>(window, "Command1(1)"), Qt::LeftButton);
           });
    EXPECT_FALSE(okDuringWait);
    EXPECT_EQ(typedDuringWait, "secret!") << "the prompt took keys while it waited";
    EXPECT_GE(answeredAfter, 900) << "a wrong password is answered after its second";
    EXPECT_EQ(guesses_.turnsTaken, 1);
}

TEST_F(QtAdminForms, PasswordPromptsCloseBoxAdmitsNobody) {
    modGlobals::PasswordOK = false;
    asUser([] { frmPassword(0).Show(); },
           [](QDialog* window) {
               auto* text = child<QLineEdit>(window, "Text1");
               ASSERT_NE(text, nullptr);
               QTest::keyClicks(text, "Secret");
               QCloseEvent closeBox; // as the window manager's close button sends it
               QApplication::sendEvent(window->windowHandle(), &closeBox);
           });
    EXPECT_FALSE(modGlobals::PasswordOK);
}

TEST_F(QtAdminForms, AdminDialogOpensOnCancelWithBoldFramesAndTheListInStoredOrder) {
    asUser([] { frmAdmin(0).Show(); },
           [](QDialog* window) {
               auto* cancel = child<QPushButton>(window, "Command3");
               auto* list = child<QListWidget>(window, "List1");
               ASSERT_TRUE(cancel != nullptr && list != nullptr);
               EXPECT_EQ(QApplication::focusWidget(), cancel);
               for (const char* frame : {"Frame1", "Frame2", "Frame3"}) {
                   const QGroupBox* box = child<QGroupBox>(window, frame);
                   EXPECT_TRUE(box != nullptr && box->font().bold()) << frame;
               }
               const QWidget* start = child<QLineEdit>(window, "Text1(0)");
               EXPECT_TRUE(start != nullptr && !start->font().bold()) << "a frame's controls are not bold";
               EXPECT_FALSE(list->isSortingEnabled());
               ASSERT_EQ(list->count(), 3);
               EXPECT_EQ(list->item(0)->text(), "443");
               EXPECT_EQ(list->item(2)->text(), "110");
               QTest::keyClick(cancel, Qt::Key_Escape);
               EXPECT_TRUE(window->isVisible()) << "Esc closed the dialog";
               QTest::mouseClick(cancel, Qt::LeftButton);
           });
}

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
