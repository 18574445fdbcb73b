#include "platform/qt/QtWindowing.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

// The Qt windowing's dialogs, driven offscreen: each test answers the dialog from a timer, as a user
// would, once it is up.
TEST(QtWindowing, AMessageBoxHasItsTextTitleIconAndOneOkButton) {
    QtWindowing windowing(false);
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    const ModalAnswer answer([&](QWidget* up) {
        auto* box = qobject_cast<QMessageBox*>(up);
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    windowing.MsgBox("WARNING\r\nThe system clock has changed.", MsgBoxIcon::Exclamation, "QWADMIN");
    EXPECT_EQ(text, "WARNING\nThe system clock has changed.");
    EXPECT_EQ(title, "QWADMIN");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

TEST(QtWindowing, AnInputPromptTellsAnEmptyAnswerFromCancel) {
    QtWindowing windowing(false);
    QString shownDefault;
    const ModalAnswer emptying([&](QWidget* up) {
        auto* dialog = qobject_cast<QInputDialog*>(up);
        ASSERT_NE(dialog, nullptr);
        shownDefault = dialog->textValue();
        dialog->setTextValue("");
        dialog->accept();
    });
    EXPECT_EQ(windowing.InputBox("Rename:", "Rename:", "21, FTP"), std::optional<std::string>(""));
    EXPECT_EQ(shownDefault, "21, FTP");

    const ModalAnswer cancelling([](QWidget* up) { qobject_cast<QDialog*>(up)->reject(); });
    EXPECT_EQ(windowing.InputBox("Port:", "Enter port to exclude:", ""), std::nullopt);

    const ModalAnswer typing([](QWidget* up) {
        auto* dialog = qobject_cast<QInputDialog*>(up);
        dialog->setTextValue("443");
        dialog->accept();
    });
    EXPECT_EQ(windowing.InputBox("Port:", "Enter port to exclude:", ""), std::optional<std::string>("443"));
}

TEST(QtWindowing, APopupMenuGivesTheChosenItemOrNothing) {
    QtWindowing windowing(false);
    const std::vector<std::string> items = {"Administration...", "-", "Readme.txt", "About...", "-", "Exit"};
    int actions = 0;
    const ModalAnswer choosing([&](QWidget* up) {
        auto* menu = qobject_cast<QMenu*>(up);
        ASSERT_NE(menu, nullptr);
        actions = static_cast<int>(menu->actions().size());
        menu->setActiveAction(menu->actions().at(3)); // "About..."
        QTest::keyClick(menu, Qt::Key_Return);
    });
    EXPECT_EQ(windowing.PopupMenu(items), 3);
    EXPECT_EQ(actions, 6) << "the separators are in the menu";

    const ModalAnswer dismissing([](QWidget* up) { QTest::keyClick(up, Qt::Key_Escape); });
    EXPECT_EQ(windowing.PopupMenu(items), -1);
}

TEST(QtWindowing, HeadlessEverythingAnswersAtOnce) {
    QtWindowing windowing(true);
    windowing.MsgBox("nobody sees this", MsgBoxIcon::Stop, "QWADMIN");
    EXPECT_EQ(windowing.InputBox("Port:", "t", "d"), std::nullopt);
    EXPECT_EQ(windowing.PopupMenu({"Exit"}), -1);
    FormHandlers handlers;
    FormLayout layout;
    layout.caption = "unseen";
    const std::unique_ptr<Form> form = windowing.CreateForm(layout, handlers);
    form->Show(true);
    EXPECT_FALSE(form->Visible());
}

TEST(QtWindowing, ASecondInstanceOfTheSameUserIsDetected) {
    TempDir dir;
    const QString lock = QString::fromStdString(dir.file("quietwire.lock"));
    QtWindowing first(true, lock);
    EXPECT_FALSE(first.PrevInstance());
    EXPECT_FALSE(first.PrevInstance()) << "asking again changes nothing";
    QtWindowing second(true, lock);
    EXPECT_TRUE(second.PrevInstance());
    EXPECT_EQ(second.PrevInstanceId(), static_cast<uint32_t>(::getpid())) << "the copy that holds the lock";
    EXPECT_EQ(first.PrevInstanceId(), 0u);
}

TEST(QtWindowing, ShellOpenGivesZeroForAMissingFile) {
    QtWindowing windowing(true);
    TempDir dir;
    EXPECT_EQ(windowing.ShellOpen(dir.file("readme.txt"), "", 0, "", ""), 0);
    EXPECT_EQ(windowing.ShellOpen("readme.txt", dir.str(), 0, "", ""), 0);
}

TEST(QtWindowing, BringToFrontFindsOnlyTheProgramsWindows) {
    QtWindowing windowing(false);
    EXPECT_EQ(windowing.BringToFront(0x7fff1234), 0);
    FormHandlers handlers;
    FormLayout layout;
    layout.clientWidth = 1500;
    layout.clientHeight = 1500;
    const std::unique_ptr<Form> form = windowing.CreateForm(layout, handlers);
    form->Show(false);
    EXPECT_EQ(windowing.BringToFront(form->Handle()), 1);
    form->Hide();
}

// A scan lets events run before each row it copies; a timer that is always due must not keep it
// there. The timer gives up after 100 ticks, so that a DoEvents that waited for a quiet loop fails
// here instead of hanging.
TEST(QtWindowing, DoEventsRunsWhatIsPendingOnceAndReturns) {
    QtWindowing windowing(false);
    int ticks = 0;
    QTimer alwaysDue;
    alwaysDue.setInterval(0);
    QObject::connect(&alwaysDue, &QTimer::timeout, [&] {
        if (++ticks == 100) {
            alwaysDue.stop();
        }
    });
    alwaysDue.start();
    windowing.DoEvents();
    EXPECT_EQ(ticks, 1);
    windowing.DoEvents();
    EXPECT_EQ(ticks, 2);
}

// A display that answers is proven by the program tests under Xvfb, which see the tray icon.
TEST(QtWindowing, ADisplayThatIsNotNamedOrDoesNotAnswerIsNotReachable) {
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_FALSE(QtWindowing::DisplayReachable());
    qputenv("DISPLAY", ":97"); // no X server there
    EXPECT_FALSE(QtWindowing::DisplayReachable());
    display.isNull() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", display);
}
