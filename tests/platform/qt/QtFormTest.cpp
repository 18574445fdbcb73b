#include "platform/qt/QtForm.h"
#include "fakes/FormRecorder.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "support/SampleForm.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

// The Qt backend builds forms from layout tables; driven here offscreen as a user would drive them.
namespace {

int px(int twips) {
    return static_cast<int>(twips * QGuiApplication::primaryScreen()->logicalDotsPerInch() / 1440.0 + 0.5);
}

} // namespace

TEST(QtForm, ControlsCarryTheLayoutsCaptionsPositionsAndFont) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    EXPECT_EQ(form.window()->windowTitle(), "Sample");
    EXPECT_EQ(form.window()->size(), QSize(px(3885), px(2400)));
    auto* label = qobject_cast<QLabel*>(form.control("Label1"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Password:");
    EXPECT_EQ(label->parentWidget(), form.control("Frame1")) << "placed in its frame";
    EXPECT_EQ(label->geometry(), QRect(px(120), px(240), px(750), px(195)));
    // The layout's 8.25 pt, less where the font at hand runs too wide for a label's caption.
    EXPECT_LE(label->font().pointSizeF(), 8.25);
    EXPECT_LE(label->minimumSizeHint().width(), label->width()) << "the caption is cut";
    EXPECT_EQ(form.control("Text1", 0)->font().pointSizeF(), label->font().pointSizeF()) << "one size for the form";
    EXPECT_TRUE(qobject_cast<QGroupBox*>(form.control("Frame1"))->font().bold());
    EXPECT_FALSE(label->font().bold());
    EXPECT_EQ(qobject_cast<QLineEdit*>(form.control("Text1", 0))->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form.Text("Text1", 1), "second");
    EXPECT_EQ(form.Text("Command1", 1), "Cancel");
}

TEST(QtForm, TabGoesThroughTheControlsInTabIndexOrder) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    form.Show(false);
    QApplication::setActiveWindow(form.window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.window()));
    std::vector<QWidget*> seen{QApplication::focusWidget()};
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(seen, (std::vector<QWidget*>{form.control("Text1", 1), form.control("Text1", 0),
                                           form.control("Command1", 0), form.control("Command1", 1)}));
    form.Hide();
}

TEST(QtForm, EnterPressesTheDefaultButtonAndAControlArraySharesOneHandler) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    form.Show(false);
    QApplication::setActiveWindow(form.window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.window()));
    form.SetFocus("Text1", 0);
    QTest::keyClick(form.control("Text1", 0), Qt::Key_Return);
    QTest::mouseClick(form.control("Command1", 1), Qt::LeftButton);
    QTest::keyClick(form.control("Text1", 0), Qt::Key_Escape);
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"Click Command1 0", "Click Command1 1"}));
    EXPECT_TRUE(form.Visible()) << "Esc does not close the form";
    form.Hide();
}

TEST(QtForm, ACloseRequestCanBeCancelledAndTellsWhyItCame) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    form.Show(false);
    handlers.cancelClose = true;
    form.window()->close(); // the user's close box
    EXPECT_TRUE(form.Visible());
    handlers.cancelClose = false;
    form.Close();
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(handlers.events, (std::vector<std::string>{"QueryUnload user", "QueryUnload code", "Unload"}));
}

TEST(QtForm, AModalShowingReturnsWhenTheFormClosesAndTimersRunMeanwhile) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    form.SetTimer("Timer1", true);
    QTimer::singleShot(200, [&form] { form.Close(); });
    form.Show(true);
    EXPECT_FALSE(form.Visible());
    EXPECT_GE(std::count(handlers.events.begin(), handlers.events.end(), "Timer Timer1"), 3);
    EXPECT_EQ(handlers.events.back(), "Unload");
    form.SetTimer("Timer1", false);
    EXPECT_FALSE(form.TimerEnabled("Timer1"));
}

TEST(QtForm, ListBoxesAddRemoveReplaceAndSelect) {
    FormRecorder handlers;
    QtForm form(sampleLayout(), handlers);
    form.AddItem("List1", "21, FTP PORT");
    form.AddItem("List1", "25");
    form.AddItem("List1", "110");
    EXPECT_EQ(form.ListCount("List1"), 3);
    EXPECT_EQ(form.ListIndex("List1"), -1);
    form.RemoveItem("List1", 0);
    form.SetList("List1", 1, "995");
    form.SetListIndex("List1", 1);
    EXPECT_EQ(form.List("List1", 0), "25");
    EXPECT_EQ(form.List("List1", 1), "995");
    EXPECT_EQ(form.ListIndex("List1"), 1);
}
