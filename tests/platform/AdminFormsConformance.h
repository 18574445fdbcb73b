#pragma once

#include "admin/MainMenu.h"
#include "admin/frmAdmin.h"
#include "admin/frmPassword.h"
#include "fakes/FakeGuessLock.h"
#include "fakes/FakeProgramInfo.h"
#include "fakes/FakeServiceControl.h"
#include "platform/Windowing.h"
#include "platform/WindowingDriver.h"
#include "settings/SettingsFixture.h"
#include "support/Done.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The password prompt and the administration dialog on every windowing backend (see WindowingDriver.h),
// driven through their controls as a user drives them while the program waits in their modal loops.
template <class Backend> class AdminFormsConformance : public SettingsTest {
protected:
    using Window = typename Backend::Window;

    AdminFormsConformance() {
        modGlobals::AdminPassword = "Secret";
        modGlobals::StartTime = "22:00:00";
        modGlobals::EndTime = "06:00:00";
        setPorts({"443", "21, FTP", "110"});
        EXPECT_TRUE(done(modGlobals::SaveSettings()));
    }

    static Window prompt() { return Backend::shownForm("Vesk Quietwire"); }
    static Window dialog() { return Backend::shownForm("Vesk Quietwire - Administration"); }

    // Types the text into the prompt's box once the prompt is up and gives it with Enter.
    static typename User<Backend>::Step enterPassword(const std::string& text) {
        return [text] {
            const Window form = prompt();
            if (!form) {
                return false;
            }
            const Window entry = Backend::control(form, "Text1", -1);
            Backend::type(entry, text);
            Backend::press(entry, UserKey::Enter);
            return true;
        };
    }
    // Reads the message box once it is up and closes it with OK.
    static typename User<Backend>::Step closeMessageBox(std::string& text) {
        return [&text] {
            const Window box = Backend::messageBox();
            if (!box) {
                return false;
            }
            text = Backend::messageText(box);
            Backend::answerOk(box);
            return true;
        };
    }

    std::unique_ptr<Windowing> windowing_ = Backend::windowing();
    platform::ScopedInstall<Windowing> useWindowing_{*windowing_};
    FakeServiceControl service_;
    platform::ScopedInstall<ServiceControl> useService_{service_};
    FakeProgramInfo info_;
    platform::ScopedInstall<ProgramInfo> useInfo_{info_};
    FakeGuessLock guesses_;
    platform::ScopedInstall<GuessLock> useGuesses_{guesses_};
};

TYPED_TEST_SUITE_P(AdminFormsConformance);

TYPED_TEST_P(AdminFormsConformance, AWrongPasswordIsRefusedWithTheEntrySelectedForOvertypingAndEnterPressesOk) {
    using B = TypeParam;
    using Window = typename B::Window;
    Window entry{};
    Window ok{};
    bool focusedAtOpen = false;
    char shownForEach = '\0';
    std::string boxText;
    std::pair<int, int> selectedAfterBox;
    bool focusedAfterBox = false;
    bool okDuringWait = true;
    bool boxDuringWait = true;
    std::string typedDuringWait;
    User<B> user({
        [&] {
            const Window form = this->prompt();
            if (!form) {
                return false;
            }
            entry = B::control(form, "Text1", -1);
            ok = B::control(form, "Command1", 0);
            focusedAtOpen = B::focused(entry);
            B::type(entry, "secret");
            B::click(ok);
            return true;
        },
        // The wrong password's second: the prompt's loop runs on, with OK out of reach.
        [&] {
            okDuringWait = B::enabled(ok);
            shownForEach = B::passwordChar(entry);
            boxDuringWait = bool(B::messageBox());
            B::type(entry, "!");
            B::press(entry, UserKey::Enter); // starts no second check
            return true;
        },
        [&] {
            typedDuringWait = B::text(entry);
            return this->closeMessageBox(boxText)();
        },
        [&] {
            if (B::messageBox() || !this->prompt()) {
                return false;
            }
            selectedAfterBox = B::selection(entry);
            focusedAfterBox = B::focused(entry);
            B::type(entry, "Secret");
            B::press(entry, UserKey::Enter);
            return true;
        },
    });
    ASSERT_FALSE(this->prompt());
    frmPassword(0).Show();

    EXPECT_EQ(user.stepsDone(), 4u);
    EXPECT_TRUE(focusedAtOpen) << "the text box holds the focus when the prompt opens";
    EXPECT_EQ(shownForEach, '*');
    EXPECT_FALSE(okDuringWait);
    EXPECT_FALSE(boxDuringWait) << "the answer came before its second was over";
    EXPECT_EQ(typedDuringWait, "secret!") << "the prompt took keys while it waited";
    EXPECT_EQ(this->guesses_.turnsTaken, 2) << "the wrong password and the right one, nothing pressed in between";
    EXPECT_EQ(boxText, "Invalid password!");
    EXPECT_EQ(selectedAfterBox, (std::pair<int, int>{0, 7}));
    EXPECT_TRUE(focusedAfterBox) << "the text box has the focus again after the message";
    EXPECT_TRUE(modGlobals::PasswordOK) << "the retyped password, given with Enter, was not accepted";
    EXPECT_FALSE(this->prompt());
}

TYPED_TEST_P(AdminFormsConformance, EscLeavesThePromptOpenAndItsCloseBoxAdmitsNobody) {
    using B = TypeParam;
    bool openAfterEsc = false;
    User<B> user({
        [&] {
            const auto form = this->prompt();
            if (!form) {
                return false;
            }
            const auto entry = B::control(form, "Text1", -1);
            B::type(entry, "Secret");
            B::press(entry, UserKey::Escape);
            return true;
        },
        [&] {
            openAfterEsc = bool(this->prompt());
            B::closeBox(this->prompt());
            return true;
        },
    });
    modGlobals::PasswordOK = false;
    frmPassword(0).Show();

    EXPECT_EQ(user.stepsDone(), 2u);
    EXPECT_TRUE(openAfterEsc);
    EXPECT_FALSE(modGlobals::PasswordOK) << "the right password was typed, but the prompt was closed";
}

TYPED_TEST_P(AdminFormsConformance, TheDialogOpensOnCancelWithBoldFramesAndTheStoredListIgnoresEscAndEnterPressesOk) {
    using B = TypeParam;
    modGlobals::AlarmRaised = true;
    std::string alarmText;
    bool cancelFocused = false;
    std::vector<bool> bold;
    std::vector<std::string> listed;
    bool openAfterEsc = false;
    User<B> user({
        this->enterPassword("Secret"),
        this->closeMessageBox(alarmText),
        [&] {
            const auto window = this->dialog();
            if (!window) {
                return false;
            }
            cancelFocused = B::focused(B::control(window, "Command3", -1));
            for (const char* frame : {"Frame1", "Frame2", "Frame3"}) {
                bold.push_back(B::bold(B::control(window, frame, -1)));
            }
            bold.push_back(B::bold(B::control(window, "Label1", -1)));
            bold.push_back(B::bold(B::control(window, "Text1", 0)));
            listed = B::listItems(B::control(window, "List1", -1));
            B::press(B::control(window, "Command3", -1), UserKey::Escape);
            return true;
        },
        [&] {
            openAfterEsc = bool(this->dialog());
            const auto start = B::control(this->dialog(), "Text1", 0);
            B::focus(start); // a click into the box
            B::setText(start, "7:30");
            B::press(start, UserKey::Enter);
            return true;
        },
    });
    MainMenu::Administration(0);

    EXPECT_EQ(user.stepsDone(), 4u);
    EXPECT_EQ(alarmText, "Alarm has been reset!");
    EXPECT_TRUE(cancelFocused) << "Cancel holds the focus when the dialog opens";
    EXPECT_EQ(bold, (std::vector<bool>{true, true, true, false, false})) << "frames bold, their controls not";
    EXPECT_EQ(listed, (std::vector<std::string>{"443", "21, FTP", "110"})) << "in the stored order";
    EXPECT_TRUE(openAfterEsc);
    EXPECT_FALSE(this->dialog()) << "Enter in the start time box did not press OK";
    EXPECT_EQ(this->readRaw("SETUP", "START"), VtkModule::Encrypt("07:30:00", modGlobals::RotationCount))
        << "not saved";
}

TYPED_TEST_P(AdminFormsConformance, EnterInTheListOrATimeBoxPressesOkAndAnAddedPortGoesLast) {
    using B = TypeParam;
    const std::string addTitle = "Enter port to exclude:";
    std::string startMessage;
    bool openAfterMessage = false;
    User<B> user({
        [&] {
            const auto window = this->dialog();
            if (!window) {
                return false;
            }
            B::click(B::control(window, "Command2", -1));
            return true;
        },
        [&] {
            const auto entry = B::inputPrompt(addTitle);
            if (!entry) {
                return false;
            }
            B::type(entry, "25");
            B::press(entry, UserKey::Enter);
            return true;
        },
        [&] {
            const auto window = this->dialog();
            if (!window || B::inputPrompt(addTitle)) {
                return false;
            }
            B::setText(B::control(window, "Text1", 0), "25:00");
            const auto list = B::control(window, "List1", -1);
            B::selectItem(list, 1);
            B::focus(list);
            B::press(list, UserKey::Enter);
            return true;
        },
        this->closeMessageBox(startMessage),
        [&] {
            const auto window = this->dialog();
            if (!window || B::messageBox()) {
                return false;
            }
            openAfterMessage = true;
            B::setText(B::control(window, "Text1", 0), "7:30");
            const auto end = B::control(window, "Text1", 1);
            B::focus(end);
            B::press(end, UserKey::Enter);
            return true;
        },
    });
    frmAdmin(0).Show();

    EXPECT_EQ(user.stepsDone(), 5u);
    EXPECT_EQ(startMessage, "Invalid time format for [START], please use time format HH:MM")
        << "Enter in the list did not press OK";
    EXPECT_TRUE(openAfterMessage);
    EXPECT_FALSE(this->dialog()) << "Enter in the end time box did not press OK";
    EXPECT_EQ(this->readRaw("SETUP", "START"), VtkModule::Encrypt("07:30:00", modGlobals::RotationCount))
        << "not saved";
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"443", "21, FTP", "110", "25"}));
}

// The week dialog edits the administration dialog's pending week: saved with its OK, dropped with its Cancel;
// a row that does not read keeps the week dialog open on that row and takes none of the rows.
TYPED_TEST_P(AdminFormsConformance, TheWeekIsEditedInItsDialogAndSavedOrDroppedWithTheAdministrationDialog) {
    using B = TypeParam;
    using Window = typename B::Window;
    const auto week = [] { return B::shownForm("Vesk Quietwire - Schedule"); };
    const auto clickIn = [](Window form, const std::string& name) {
        if (!form || B::messageBox()) {
            return false;
        }
        B::click(B::control(form, name, -1));
        return true;
    };
    const auto inAdmin = [&](const std::string& button) {
        return [&, button] { return !week() && clickIn(this->dialog(), button); };
    };
    const auto inWeek = [&](const std::string& button) { return [&, button] { return clickIn(week(), button); }; };
    const auto stored = [&] {
        resetSettings();
        EXPECT_TRUE(done(modGlobals::LoadSettings()));
        return modGlobals::WeekDays;
    };

    User<B> first({inAdmin("Command9"),
                   [&] {
                       if (!week()) {
                           return false;
                       }
                       B::setText(B::control(week(), "Text1", 4), "22:00-02:00");
                       B::click(B::control(week(), "Check6", -1));
                       return true;
                   },
                   inWeek("Command1"), inAdmin("Command4")});
    frmAdmin(0).Show();
    EXPECT_EQ(first.stepsDone(), 4u);
    EXPECT_EQ(stored(), (std::array<std::string, 7>{"", "", "", "", "22:00:00-02:00:00", "closed", ""}));

    std::string shownFriday;
    bool shownClosed = false;
    std::string refusal;
    bool mondayFocused = false;
    User<B> second({inAdmin("Command9"),
                    [&] {
                        if (!week()) {
                            return false;
                        }
                        shownFriday = B::text(B::control(week(), "Text1", 4));
                        shownClosed = B::checked(B::control(week(), "Check6", -1));
                        B::setText(B::control(week(), "Text1", 0), "08:00-12:00,11:00-13:00");
                        B::setText(B::control(week(), "Text1", 6), "09:00-10:00");
                        B::click(B::control(week(), "Command1", -1));
                        return true;
                    },
                    this->closeMessageBox(refusal),
                    [&] {
                        mondayFocused = B::focused(B::control(week(), "Text1", 0));
                        return clickIn(week(), "Command2");
                    },
                    inAdmin("Command4")});
    frmAdmin(0).Show();
    EXPECT_EQ(second.stepsDone(), 5u);
    EXPECT_EQ(shownFriday, "22:00:00-02:00:00");
    EXPECT_TRUE(shownClosed);
    EXPECT_EQ(refusal, "Monday: the windows 08:00:00-12:00:00 and 11:00:00-13:00:00 overlap");
    EXPECT_TRUE(mondayFocused) << "the refused row does not hold the focus";
    EXPECT_EQ(stored()[6], "") << "a refused week took its other rows";

    User<B> third({inAdmin("Command9"),
                   [&] {
                       if (!week()) {
                           return false;
                       }
                       B::click(B::control(week(), "Check6", -1));
                       return true;
                   },
                   inWeek("Command1"), inAdmin("Command3")});
    frmAdmin(0).Show();
    EXPECT_EQ(third.stepsDone(), 4u);
    EXPECT_EQ(modGlobals::WeekDays[5], "closed") << "Cancel kept the week's change";
    EXPECT_EQ(stored()[5], "closed");
}

REGISTER_TYPED_TEST_SUITE_P(AdminFormsConformance,
                            AWrongPasswordIsRefusedWithTheEntrySelectedForOvertypingAndEnterPressesOk,
                            EscLeavesThePromptOpenAndItsCloseBoxAdmitsNobody,
                            TheDialogOpensOnCancelWithBoldFramesAndTheStoredListIgnoresEscAndEnterPressesOk,
                            EnterInTheListOrATimeBoxPressesOkAndAnAddedPortGoesLast,
                            TheWeekIsEditedInItsDialogAndSavedOrDroppedWithTheAdministrationDialog);
