#include "platform/HeadlessWindowing.h"
#include "fakes/FakeWindowing.h"
#include "fakes/FormRecorder.h"
#include "support/SampleForm.h"

#include <gtest/gtest.h>

// The windowing of a program without a display, around a fake of the display windowing it wraps.
namespace {

class HeadlessWindowingTest : public ::testing::Test {
protected:
    FakeWindowing* display_ = new FakeWindowing; // owned by headless_
    HeadlessWindowing headless_{std::unique_ptr<Windowing>(display_)};
    FormRecorder handlers_;
};

} // namespace

TEST_F(HeadlessWindowingTest, DialogsCountAsAnsweredAtOnceAndNothingReachesTheScreen) {
    display_->answers.push_back("443");
    display_->choices.push_back(0);
    headless_.MsgBox("nobody sees this", MsgBoxIcon::Stop, "QWADMIN");
    EXPECT_EQ(headless_.InputBox("Port:", "Enter port to exclude:", "21"), std::nullopt) << "cancelled";
    EXPECT_EQ(headless_.PopupMenu({"Exit"}), -1) << "dismissed";
    EXPECT_TRUE(display_->boxes.empty());
    EXPECT_TRUE(display_->prompts.empty());
    EXPECT_TRUE(display_->menus.empty());
}

TEST_F(HeadlessWindowingTest, FormsRunUnseenAndAModalShowingReturnsAtOnce) {
    const std::unique_ptr<Form> form = headless_.CreateForm(sampleLayout(), handlers_);
    FakeForm& built = display_->form("frmSample");
    form->Show(true);
    form->Show(false);
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(built.shownModal, 0);
    form->SetText("Text1", 1, "typed");
    form->SetTimer("Timer1", true);
    EXPECT_EQ(built.Text("Text1", 1), "typed");
    EXPECT_TRUE(built.tick("Timer1")) << "its timers run: enforcement goes on";
    form->Close();
    EXPECT_EQ(handlers_.events, (std::vector<std::string>{"Timer Timer1", "QueryUnload code", "Unload"}));
}

TEST_F(HeadlessWindowingTest, TheEventLoopInstanceLockAndShellAreTheDisplayWindowings) {
    display_->otherInstance = true;
    display_->otherInstanceId = 42;
    int ran = 0;
    headless_.Post([&ran] { ++ran; });
    headless_.Run();
    headless_.Quit();
    headless_.Pause(20);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(display_->quit);
    EXPECT_EQ(display_->pauses, std::vector<int>{20});
    EXPECT_TRUE(headless_.PrevInstance());
    EXPECT_EQ(headless_.PrevInstanceId(), 42u);
    EXPECT_EQ(headless_.ShellOpen("readme.txt", "", 0, "", ""), 42);
    EXPECT_EQ(headless_.BringToFront(0x1000), 1);
}
