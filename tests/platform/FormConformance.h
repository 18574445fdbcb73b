#pragma once

#include "admin/AdminLayouts.h"
#include "fakes/FormRecorder.h"
#include "platform/FormGeometry.h"
#include "platform/Windowing.h"
#include "platform/WindowingDriver.h"
#include "support/SampleForm.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// What every windowing backend's forms do (see WindowingDriver.h).
template <class Backend> class FormConformance : public ::testing::Test {
protected:
    std::unique_ptr<Form> make(const FormLayout& layout) { return windowing_->CreateForm(layout, handlers_); }
    // Presses a key in a control and lets the form handle it.
    static void press(const Form& form, const std::string& name, int index, UserKey key) {
        Backend::press(Backend::control(form, name, index), key);
        Backend::pump();
    }

    std::unique_ptr<Windowing> windowing_ = Backend::windowing();
    FormRecorder handlers_;
};

TYPED_TEST_SUITE_P(FormConformance);

TYPED_TEST_P(FormConformance, ControlsCarryTheLayoutsCaptionsPositionsAndFont) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    const auto px = [](int twips) { return twipsToPixels(twips, B::dotsPerInch()); };
    EXPECT_EQ(B::title(B::window(*form)), "Sample");
    const PixelRect client = B::clientArea(B::window(*form));
    EXPECT_EQ(client.width, px(3885));
    EXPECT_EQ(client.height, px(2400));
    const PixelRect label = B::onForm(B::window(*form), B::control(*form, "Label1", -1));
    EXPECT_EQ(label.left, px(90) + px(120)) << "placed at its frame's offset";
    EXPECT_EQ(label.top, px(90) + px(240));
    EXPECT_EQ(label.width, px(750));
    EXPECT_EQ(form->Text("Label1"), "Password:");
    EXPECT_EQ(form->Text("Text1", 1), "second");
    EXPECT_EQ(form->Text("Command1", 1), "Cancel");
    EXPECT_EQ(B::passwordChar(B::control(*form, "Text1", 0)), '*');
    EXPECT_TRUE(B::bold(B::control(*form, "Frame1", -1)));
    EXPECT_FALSE(B::bold(B::control(*form, "Label1", -1))) << "a frame's controls are not bold";
    EXPECT_FALSE(B::bold(B::control(*form, "Text1", 0)));
    EXPECT_EQ(B::fontSize(B::control(*form, "Text1", 0)), B::fontSize(B::control(*form, "Label1", -1)))
        << "one size for the form";
}

TYPED_TEST_P(FormConformance, EveryLabelAndFrameShowsItsWholeCaption) {
    for (const FormLayout& layout :
         {sampleLayout(), passwordLayout(), frmPasswordLayout(), frmAdminLayout(), frmWeekLayout()}) {
        const auto form = this->make(layout);
        for (const ControlLayout& c : layout.controls) {
            if (c.kind == ControlKind::Label || c.kind == ControlKind::Frame) {
                EXPECT_TRUE(TypeParam::showsWholeCaption(TypeParam::control(*form, c.name, c.index), c))
                    << layout.name << "." << c.name << " is cut";
            }
        }
    }
}

TYPED_TEST_P(FormConformance, AControlTheFormDoesNotHaveIsAFaultOfTheProgram) {
    const auto form = this->make(sampleLayout());
    EXPECT_THROW(form->Text("Text1", 2), std::logic_error);
    EXPECT_THROW(form->SetEnabled("Nothing", -1, false), std::logic_error);
    FormLayout misplaced = sampleLayout();
    misplaced.controls.push_back({.name = "Label9", .kind = ControlKind::Label, .container = "Frame9"});
    EXPECT_THROW(this->make(misplaced), std::logic_error);
}

TYPED_TEST_P(FormConformance, TabGoesThroughTheControlsInTabIndexOrderFromTheFirst) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    B::activate(*form);
    EXPECT_TRUE(B::focused(B::control(*form, "Text1", 1)))
        << "the first in tab order has the focus when the form opens";
    const std::vector<std::pair<std::string, int>> order{
        {"Text1", 1}, {"Text1", 0}, {"Command1", 0}, {"Command1", 1}, {"List1", -1}};
    for (size_t i = 1; i < order.size(); ++i) {
        this->press(*form, order[i - 1].first, order[i - 1].second, UserKey::Tab);
        EXPECT_TRUE(B::focused(B::control(*form, order[i].first, order[i].second))) << order[i].first << i;
    }
    form->Hide();
}

TYPED_TEST_P(FormConformance, EnterPressesTheDefaultButtonEscDoesNothingAndArraysShareAHandler) {
    using B = TypeParam;
    const auto form = this->make(sampleLayout());
    B::activate(*form);
    form->SetFocus("Text1", 0);
    this->press(*form, "Text1", 0, UserKey::Enter);
    B::click(B::control(*form, "Command1", 1));
    B::pump();
    form->SetFocus("Text1", 0);
    this->press(*form, "Text1", 0, UserKey::Escape);
    EXPECT_EQ(this->handlers_.events, (std::vector<std::string>{"Click Command1 0", "Click Command1 1"}));
    EXPECT_TRUE(form->Visible()) << "Esc closed the form";
    form->Hide();
}

TYPED_TEST_P(FormConformance, ACloseRequestCanBeCancelledAndTellsWhyItCame) {
    const auto form = this->make(sampleLayout());
    form->Show(false);
    this->handlers_.cancelClose = true;
    TypeParam::closeBox(TypeParam::window(*form));
    TypeParam::pump();
    EXPECT_TRUE(form->Visible());
    this->handlers_.cancelClose = false;
    form->Close();
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(this->handlers_.events, (std::vector<std::string>{"QueryUnload user", "QueryUnload code", "Unload"}));
}

TYPED_TEST_P(FormConformance, AModalShowingRunsTimersAndReturnsWhenTheFormCloses) {
    const auto form = this->make(sampleLayout());
    int ticks = 0;
    this->handlers_.onTick = [&](const std::string&) {
        if (++ticks == 3) {
            form->Close();
        }
    };
    form->SetTimer("Timer1", true);
    EXPECT_TRUE(form->TimerEnabled("Timer1"));
    form->Show(true);
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(this->handlers_.events.back(), "Unload");
    form->SetTimer("Timer1", false);
    EXPECT_FALSE(form->TimerEnabled("Timer1"));
}

TYPED_TEST_P(FormConformance, ListBoxesAddRemoveReplaceAndSelect) {
    const auto form = this->make(sampleLayout());
    form->AddItem("List1", "21, FTP PORT");
    form->AddItem("List1", "25");
    form->AddItem("List1", "110");
    EXPECT_EQ(form->ListIndex("List1"), -1);
    form->RemoveItem("List1", 0);
    form->SetList("List1", 1, "995");
    form->SetListIndex("List1", 1);
    EXPECT_EQ(form->ListCount("List1"), 2);
    EXPECT_EQ(form->List("List1", 0), "25");
    EXPECT_EQ(form->List("List1", 1), "995");
    EXPECT_EQ(form->ListIndex("List1"), 1);
}

REGISTER_TYPED_TEST_SUITE_P(FormConformance, ControlsCarryTheLayoutsCaptionsPositionsAndFont,
                            EveryLabelAndFrameShowsItsWholeCaption, AControlTheFormDoesNotHaveIsAFaultOfTheProgram,
                            TabGoesThroughTheControlsInTabIndexOrderFromTheFirst,
                            EnterPressesTheDefaultButtonEscDoesNothingAndArraysShareAHandler,
                            ACloseRequestCanBeCancelledAndTellsWhyItCame,
                            AModalShowingRunsTimersAndReturnsWhenTheFormCloses, ListBoxesAddRemoveReplaceAndSelect);
