#pragma once

#include "platform/Windowing.h"
#include "platform/WindowingDriver.h"
#include "support/SampleForm.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The dialogs, instance lock and shell of every windowing backend (see WindowingDriver.h): each dialog
// is answered as a user would once it is up.
template <class Backend> class WindowingConformance : public ::testing::Test {
protected:
    TempDir locks_;
    std::unique_ptr<Windowing> windowing_ = Backend::windowing(locks_);
};

TYPED_TEST_SUITE_P(WindowingConformance);

TYPED_TEST_P(WindowingConformance, AMessageBoxShowsItsTextAndTitleUntilOk) {
    std::string title;
    std::string text;
    {
        const auto answer = TypeParam::answerMessageBox(title, text);
        this->windowing_->MsgBox("WARNING\r\nThe system clock has changed.", MsgBoxIcon::Exclamation, "QWADMIN");
    }
    EXPECT_EQ(title, "QWADMIN");
    EXPECT_EQ(text, "WARNING" + TypeParam::visibleLineBreak() + "The system clock has changed.");
}

TYPED_TEST_P(WindowingConformance, AnInputPromptTellsAnEmptyAnswerFromCancel) {
    const std::string title = "Enter port to exclude:";
    std::string shown;
    {
        const auto answer = TypeParam::answerInputBox(title, "", shown);
        EXPECT_EQ(this->windowing_->InputBox("Port:", title, "21, FTP"), std::optional<std::string>(""));
    }
    EXPECT_EQ(shown, "21, FTP");
    {
        const auto answer = TypeParam::answerInputBox(title, "443", shown);
        EXPECT_EQ(this->windowing_->InputBox("Port:", title, ""), std::optional<std::string>("443"));
    }
    {
        const auto answer = TypeParam::answerInputBox(title, std::nullopt, shown);
        EXPECT_EQ(this->windowing_->InputBox("Port:", title, ""), std::nullopt);
    }
}

TYPED_TEST_P(WindowingConformance, APopupMenuGivesTheChosenItemOrNothing) {
    const std::vector<std::string> items = {"Administration...", "-", "Readme.txt", "About...", "-", "Exit"};
    {
        const auto answer = TypeParam::choose(items, 3);
        EXPECT_EQ(this->windowing_->PopupMenu(items), 3) << "About...";
    }
    {
        const auto answer = TypeParam::choose(items, -1);
        EXPECT_EQ(this->windowing_->PopupMenu(items), -1);
    }
}

TYPED_TEST_P(WindowingConformance, ASecondInstanceOfTheSameUserIsDetected) {
    Windowing& first = *this->windowing_;
    EXPECT_FALSE(first.PrevInstance());
    EXPECT_FALSE(first.PrevInstance()) << "asking again changes nothing";
    const auto second = TypeParam::windowing(this->locks_);
    EXPECT_TRUE(second->PrevInstance());
    EXPECT_EQ(second->PrevInstanceId(), TypeParam::processId()) << "the copy that holds the lock";
    EXPECT_EQ(first.PrevInstanceId(), 0u);
}

TYPED_TEST_P(WindowingConformance, ShellOpenGivesZeroForAMissingFile) {
    TempDir dir;
    EXPECT_EQ(this->windowing_->ShellOpen(dir.file("readme.txt"), "", 0, "", ""), 0);
    EXPECT_EQ(this->windowing_->ShellOpen("readme.txt", dir.str(), 0, "", ""), 0);
}

TYPED_TEST_P(WindowingConformance, BringToFrontRaisesOnlyTheProgramsWindows) {
    EXPECT_EQ(this->windowing_->BringToFront(0x7fff1234), 0);
    FormHandlers handlers;
    const auto form = this->windowing_->CreateForm(sampleLayout(), handlers);
    form->Show(false);
    EXPECT_NE(this->windowing_->BringToFront(form->Handle()), 0);
    EXPECT_TRUE(TypeParam::inFront(TypeParam::window(*form)));
    form->Hide();
}

REGISTER_TYPED_TEST_SUITE_P(WindowingConformance, AMessageBoxShowsItsTextAndTitleUntilOk,
                            AnInputPromptTellsAnEmptyAnswerFromCancel, APopupMenuGivesTheChosenItemOrNothing,
                            ASecondInstanceOfTheSameUserIsDetected, ShellOpenGivesZeroForAMissingFile,
                            BringToFrontRaisesOnlyTheProgramsWindows);
