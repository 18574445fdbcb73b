#include "platform/qt/QtWindowing.h"
#include "platform/WindowingConformance.h"
#include "platform/qt/QtDriver.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtOffscreenApplication.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// The Qt windowing's dialogs, driven offscreen: each is answered from a timer, as a user would, once
// it is up.
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, WindowingConformance, QtDriver);

TEST(QtWindowing, AMessageBoxShowsTheIconOfItsKindAndOneButton) {
    QtWindowing windowing;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    const ModalAnswer answer([&](QWidget* up) {
        auto* box = qobject_cast<QMessageBox*>(up);
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    windowing.MsgBox("The system clock has changed.", MsgBoxIcon::Exclamation, "QWADMIN");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

// A scan lets events run before each row it copies; a timer that is always due must not keep it
// there. The timer gives up after 100 ticks, so that a DoEvents that waited for a quiet loop fails
// here instead of hanging.
TEST(QtWindowing, DoEventsRunsWhatIsPendingOnceAndReturns) {
    QtWindowing windowing;
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
