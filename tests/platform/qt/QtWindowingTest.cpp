#include "platform/qt/QtWindowing.h"
#include "platform/WindowingConformance.h"
#include "platform/qt/QtModalAnswer.h"
#include "platform/qt/QtOffscreenApplication.h"

#include <QApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

// The Qt windowing's dialogs, driven offscreen: each is answered from a timer, as a user would, once
// it is up.
namespace {

struct QtWindowingBackend {
    static std::unique_ptr<Windowing> windowing(const TempDir& locks) {
        return std::make_unique<QtWindowing>(QString::fromStdString(locks.file("quietwire.lock")));
    }
    static uint32_t processId() { return static_cast<uint32_t>(::getpid()); }
    static bool inFront(const Form& form) {
        return QTest::qWaitForWindowActive(QWidget::find(static_cast<WId>(form.Handle())));
    }
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
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, WindowingConformance, QtWindowingBackend);

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
