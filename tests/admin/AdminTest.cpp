#include "admin/Administration.h"
#include "admin/MainMenu.h"
#include "fakes/FaultyFiles.h"
#include "support/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

constexpr int16_t Left = 1;
constexpr int16_t Right = 2;

// The administrator at the tray icon: the password prompt answered, then whatever the test does in
// the administration dialog.
class AdminTest : public MainWindowTest {
protected:
    AdminTest() {
        storeSettings("22:00:00", "06:00:00");
        writeRaw("SETUP", "PASSWORD", "Secret");
        load();
    }

    // Each modal form the program shows next is handled by the next step, in order.
    void user(std::vector<std::function<void(FakeForm&)>> steps) {
        steps_ = std::move(steps);
        windowing_.whileModal = [this](FakeForm& form) {
            shown_.push_back(form.layout.name);
            ASSERT_FALSE(steps_.empty()) << "nothing scripted for " << form.layout.name;
            auto step = steps_.front();
            steps_.erase(steps_.begin());
            step(form);
        };
    }
    static std::function<void(FakeForm&)> typePassword(const std::string& password) {
        return [password](FakeForm& prompt) {
            prompt.SetText("Text1", -1, password);
            prompt.click("Command1", 0);
        };
    }
    static void leave(FakeForm&) {}
    // The dialog's list, as shown.
    static std::vector<std::string> entries(FakeForm& dialog) { return dialog.lists["List1"]; }
    std::vector<std::string> prompts() const {
        std::vector<std::string> texts;
        for (const auto& box : windowing_.boxes) {
            texts.push_back(box.prompt);
        }
        return texts;
    }
    void administer(std::function<void(FakeForm&)> inDialog) {
        user({typePassword("Secret"), std::move(inDialog)});
        main_->mnuAdministration_Click();
    }

    std::vector<std::function<void(FakeForm&)>> steps_;
    std::vector<std::string> shown_;
    Installed<ServiceControl, FakeServiceControl> service_;
    Installed<ProgramInfo, FakeProgramInfo> info_;
    Installed<GuessLock, FakeGuessLock> guesses_;
};

} // namespace

TEST_F(AdminTest, AWrongPasswordIsRefusedAndSelectedForAnotherTry) {
    user({[](FakeForm& prompt) {
              for (const char* wrong : {"secret", "Secret "}) {
                  prompt.SetText("Text1", -1, wrong);
                  prompt.click("Command1", 0);
                  ASSERT_FALSE(prompt.closed) << wrong;
              }
              EXPECT_EQ(prompt.focus, (std::pair<std::string, int>{"Text1", -1}));
              prompt.SetText("Text1", -1, "Secret");
              prompt.click("Command1", 0);
          },
          &leave});
    main_->mnuAdministration_Click();
    EXPECT_EQ(prompts(), (std::vector<std::string>{"Invalid password!", "Invalid password!"}));
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
    EXPECT_EQ(shown_, (std::vector<std::string>{"frmPassword", "frmAdmin"}));
}

TEST_F(AdminTest, AWrongPasswordWaitsItsUsersTurnAndCostsASecondWithOkOutOfReachMeanwhile) {
    guesses_.heldElsewhere = 2; // another process of this user is answering a guess
    guesses_.penaltyLeft = 300; // and one that ended early left part of its second
    std::vector<bool> okDuringPauses;
    user({[&](FakeForm& prompt) {
              windowing_.onPause = [&] {
                  okDuringPauses.push_back(prompt.Enabled("Command1", 0));
                  prompt.click("Command1", 0); // Enter while waiting starts no second check
              };
              prompt.SetText("Text1", -1, "secret");
              prompt.click("Command1", 0);
              windowing_.onPause = nullptr;
              EXPECT_TRUE(prompt.Enabled("Command1", 0)) << "OK is back once the answer is given";
              typePassword("Secret")(prompt);
          },
          &leave});
    main_->mnuAdministration_Click();
    EXPECT_EQ(windowing_.pauses, (std::vector<int>{50, 50, 300, 1000}))
        << "the other process's turn, the penalty it left, this guess's own second; none for the right one";
    EXPECT_EQ(okDuringPauses, std::vector<bool>(4, false));
    EXPECT_EQ(guesses_.penalties, (std::vector<int>{1000, 1000, 0})) << "set before comparing, ended when right";
    EXPECT_EQ(guesses_.turnsTaken, 2);
    EXPECT_EQ(prompts(), std::vector<std::string>{"Invalid password!"});
    EXPECT_EQ(shown_.back(), "frmAdmin");
}

TEST_F(AdminTest, ThePromptClosedDuringTheWaitAdmitsNobodyAndShowsNothing) {
    guesses_.penaltyLeft = 500; // the right password waits, and the prompt is closed meanwhile
    user({[&](FakeForm& prompt) {
        windowing_.onPause = [&] { prompt.click("Command1", 1); };
        typePassword("Secret")(prompt);
    }});
    main_->mnuAdministration_Click();
    EXPECT_TRUE(windowing_.boxes.empty());
    EXPECT_EQ(shown_, std::vector<std::string>{"frmPassword"});
}

TEST_F(AdminTest, ARequestFromTheTrayWhileAWrongPasswordWaitsOpensNoSecondPrompt) {
    user({[&](FakeForm& prompt) {
              windowing_.onPause = [&] { main_->VeskTray1_MouseDblClick(Left, 0); };
              prompt.SetText("Text1", -1, "secret");
              prompt.click("Command1", 0);
              windowing_.onPause = nullptr;
              typePassword("Secret")(prompt);
          },
          &leave});
    main_->mnuAdministration_Click();
    EXPECT_EQ(shown_, (std::vector<std::string>{"frmPassword", "frmAdmin"}));
    EXPECT_EQ(guesses_.turnsTaken, 2) << "each answer took its own turn";
}

TEST_F(AdminTest, OnlyTheExactPasswordMatchesWhateverItsLength) {
    for (const char* wrong : {"", "Secre", "SecretSecret", "secret", "Secreu", "Secret "}) {
        EXPECT_FALSE(Administration::PasswordMatches(wrong)) << wrong;
    }
    EXPECT_FALSE(Administration::PasswordMatches(std::string("Secret\0", 7)));
    EXPECT_TRUE(Administration::PasswordMatches("Secret"));
    modGlobals::AdminPassword.clear();
    EXPECT_TRUE(Administration::PasswordMatches(""));
    EXPECT_FALSE(Administration::PasswordMatches(std::string(1, '\0')));
    EXPECT_FALSE(Administration::PasswordMatches(" "));
}

TEST_F(AdminTest, CancelOrTheCloseBoxOnThePromptOpensNothingAndEveryCommandAsksAgain) {
    user({[](FakeForm& prompt) { prompt.click("Command1", 1); }, &leave, typePassword("Secret"), &leave});
    main_->mnuAdministration_Click();
    main_->mnuAdministration_Click();
    main_->mnuAdministration_Click();
    EXPECT_EQ(shown_, (std::vector<std::string>{"frmPassword", "frmPassword", "frmPassword", "frmAdmin"}));
    EXPECT_TRUE(windowing_.boxes.empty());
}

TEST_F(AdminTest, WithNoPasswordStoredAnEmptyEntryAdmits) {
    modGlobals::AdminPassword.clear();
    user({typePassword(""), &leave});
    main_->mnuAdministration_Click();
    EXPECT_EQ(shown_.back(), "frmAdmin");
}

TEST_F(AdminTest, TheTrayRightClickPopsTheMenuAndADoubleClickOfEitherButtonOpensAdministration) {
    main_->VeskTray1_MouseUp(Left, 0);
    EXPECT_TRUE(windowing_.menus.empty());
    windowing_.choices = {-1};
    main_->VeskTray1_MouseUp(Right, 0);
    ASSERT_EQ(windowing_.menus.size(), 1u);
    EXPECT_EQ(windowing_.menus[0],
              (std::vector<std::string>{"Administration...", "-", "Readme.txt", "About...", "-", "Exit"}));
    EXPECT_EQ(windowing_.broughtToFront, (std::vector<uintptr_t>{form().Handle()}));

    user(
        {[](FakeForm& prompt) { prompt.click("Command1", 1); }, [](FakeForm& prompt) { prompt.click("Command1", 1); }});
    main_->VeskTray1_MouseDblClick(Left, 0);
    main_->VeskTray1_MouseDblClick(Right, 0);
    EXPECT_EQ(shown_, (std::vector<std::string>{"frmPassword", "frmPassword"}));
}

TEST_F(AdminTest, ExitAsksForThePasswordAndCancellingKeepsTheProgramRunning) {
    user({[](FakeForm& prompt) { prompt.click("Command1", 1); }, typePassword("Secret")});
    windowing_.choices = {5, 5};
    main_->VeskTray1_MouseUp(Right, 0);
    EXPECT_FALSE(main_->Unloaded());
    main_->VeskTray1_MouseUp(Right, 0);
    EXPECT_TRUE(main_->Unloaded());
    EXPECT_TRUE(windowing_.quit);
}

TEST_F(AdminTest, AboutShowsTheVersionAndThreeCreditLinesAndReadmeOpensTheFileBesideTheProgram) {
    windowing_.choices = {3, 2};
    main_->VeskTray1_MouseUp(Right, 0);
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    const std::string& about = windowing_.boxes[0].prompt;
    EXPECT_EQ(about.rfind("Quietwire V1.0.54\r\n\r\n", 0), 0u) << about;
    const std::string credits = about.substr(about.find("\r\n\r\n") + 4);
    EXPECT_EQ(std::count(credits.begin(), credits.end(), '\n'), 2) << "three lines";
    EXPECT_NE(credits.back(), '\n');
    EXPECT_EQ(credits.find("example"), std::string::npos) << "a placeholder";
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Information);

    main_->VeskTray1_MouseUp(Right, 0);
    EXPECT_EQ(windowing_.opened, (std::vector<std::string>{dir_.file("readme.txt")}));
}

TEST_F(AdminTest, ReadmeOpensTheFileInTheDocumentFolderWhereTheProgramIsInstalledWithItsFilesApart) {
    struct InstalledFiles : RedirectedFileSystem {
        using RedirectedFileSystem::RedirectedFileSystem;
        std::string documentDirectory() override { return programDirectory_ + pathSeparator() + "doc"; }
    } files(dir_.str());
    platform::ScopedInstall<FileSystem> use(files);
    windowing_.choices = {2};
    main_->VeskTray1_MouseUp(Right, 0);
    EXPECT_EQ(windowing_.opened,
              (std::vector<std::string>{files.documentDirectory() + files.pathSeparator() + "readme.txt"}));
}

TEST_F(AdminTest, OpeningTheDialogClearsARaisedAlarmEvenWhenItIsCancelled) {
    modGlobals::AlarmRaised = true;
    administer([](FakeForm& dialog) { dialog.click("Command3"); });
    EXPECT_EQ(prompts(), (std::vector<std::string>{"Alarm has been reset!"}));
    EXPECT_FALSE(modGlobals::AlarmRaised);
    EXPECT_EQ(readRaw("SETUP", "ALARM"), VtkModule::Encrypt("False", modGlobals::RotationCount));
}

TEST_F(AdminTest, TheDialogShowsTheSettingsAndOkStoresTheTimesInLongFormAndTheList) {
    administer([](FakeForm& dialog) {
        EXPECT_EQ(dialog.Text("Text1", 0), "22:00:00");
        EXPECT_EQ(entries(dialog), (std::vector<std::string>{"25, SMTP"}));
        dialog.SetText("Text1", 0, " 7:30 ");
        dialog.SetText("Text1", 1, "9:05 PM");
        dialog.AddItem("List1", "443, HTTPS");
        dialog.click("Command4");
        EXPECT_TRUE(dialog.closed);
    });
    EXPECT_EQ(readRaw("SETUP", "START"), VtkModule::Encrypt("07:30:00", modGlobals::RotationCount));
    EXPECT_EQ(readRaw("SETUP", "END"), VtkModule::Encrypt("21:05:00", modGlobals::RotationCount));
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"25, SMTP", "443, HTTPS"}));
    EXPECT_EQ(readRaw("PORTS", "OP_01"), VtkModule::Encrypt("443, HTTPS", modGlobals::RotationCount));
}

TEST_F(AdminTest, AnUnreadableTimeKeepsTheDialogOpenAndAStartAlreadyReadStays) {
    administer([this](FakeForm& dialog) {
        dialog.SetText("Text1", 0, "");
        dialog.click("Command4");
        dialog.SetText("Text1", 0, "08:00");
        dialog.SetText("Text1", 1, "24:00");
        dialog.click("Command4");
        EXPECT_FALSE(dialog.closed);
        EXPECT_EQ(modGlobals::StartTime, "08:00:00") << "taken over before the end failed";
        EXPECT_EQ(readRaw("SETUP", "START"), VtkModule::Encrypt("22:00:00", modGlobals::RotationCount));
        dialog.click("Command3");
    });
    EXPECT_EQ(prompts(), (std::vector<std::string>{"Invalid time format for [START], please use time format HH:MM",
                                                   "Invalid time format for [END], please use time format HH:MM"}));
}

TEST_F(AdminTest, EmptyingTheListAndPressingOkSavesNoPorts) {
    administer([](FakeForm& dialog) {
        dialog.SetListIndex("List1", 0);
        dialog.click("Command1");
        EXPECT_EQ(dialog.ListCount("List1"), 0);
        dialog.click("Command4");
    });
    EXPECT_EQ(modGlobals::LastPortIndex, -1);
    EXPECT_EQ(readRaw("PORTS", "OP_00"), "");
}

TEST_F(AdminTest, AddRefusesAnExactDuplicateRemoveSelectsTheLastAndEditMayDuplicate) {
    windowing_.answers = {"21", "21, FTP", "021", "", "no number", "21", std::nullopt};
    administer([](FakeForm& dialog) {
        dialog.AddItem("List1", "21");
        dialog.AddItem("List1", "80");
        for (int i = 0; i < 5; ++i) {
            dialog.click("Command2");
        }
        EXPECT_EQ(entries(dialog), (std::vector<std::string>{"25, SMTP", "21", "80", "21, FTP", "021", "no number"}));
        dialog.SetListIndex("List1", 0);
        dialog.click("Command1");
        EXPECT_EQ(dialog.ListIndex("List1"), 4);
        dialog.SetListIndex("List1", 1);
        dialog.click("Command6");
        dialog.click("Command6");
        EXPECT_EQ(entries(dialog), (std::vector<std::string>{"21", "21", "21, FTP", "021", "no number"}));
        dialog.click("Command3");
    });
    EXPECT_EQ(prompts(), (std::vector<std::string>{"Port already on list!"}));
    EXPECT_EQ(windowing_.prompts[0].title, "Enter port to exclude:");
    EXPECT_EQ(windowing_.prompts[0].prompt, "Port:");
    EXPECT_EQ(windowing_.prompts[5].prompt, "Rename:");
    EXPECT_EQ(windowing_.prompts[5].fallback, "80");
    EXPECT_EQ(listedPorts(), (std::vector<std::string>{"25, SMTP"})) << "Cancel drops the edits";
}

TEST_F(AdminTest, ChangingThePasswordAsksTwiceAndCancelChangesNothing) {
    // The last one could never be typed back from settings.ini: refused, or it would lock the administrator out.
    windowing_.answers = {std::nullopt, "a", std::nullopt, "a", "b", "", "", "new one", "new one", "a\tb", "a\tb"};
    administer([](FakeForm& dialog) {
        for (int i = 0; i < 6; ++i) {
            dialog.click("Command5");
        }
        dialog.click("Command3");
    });
    EXPECT_EQ(prompts(),
              (std::vector<std::string>{"Error, First and second typing wasn't equal, please set again!",
                                        "Password changed!", "Password changed!", Administration::PasswordNotKept}));
    EXPECT_EQ(windowing_.boxes[1].icon, MsgBoxIcon::Information);
    EXPECT_EQ(windowing_.prompts[0].prompt, "Enter new password:");
    EXPECT_EQ(windowing_.prompts[1].prompt, "Enter new password:") << "the first Cancel asked nothing more";
    EXPECT_EQ(modGlobals::AdminPassword, "new one") << "in force although the dialog was cancelled";
    EXPECT_EQ(readRaw("SETUP", "PASSWORD"), VtkModule::Encrypt("Secret", modGlobals::RotationCount));
    main_->Stop();
    EXPECT_EQ(readRaw("SETUP", "PASSWORD"), VtkModule::Encrypt("new one", modGlobals::RotationCount));
}

TEST_F(AdminTest, TheServiceButtonsFollowTheInstalledFlagAndSwapOnlyAfterSuccess) {
    service_.installs = false;
    administer([this](FakeForm& dialog) {
        EXPECT_TRUE(dialog.Enabled("Command7", -1));
        EXPECT_FALSE(dialog.Enabled("Command8", -1));
        dialog.click("Command7");
        EXPECT_TRUE(dialog.Enabled("Command7", -1)) << "a failed registration changes nothing";
        service_.installs = true;
        dialog.click("Command7");
        EXPECT_FALSE(dialog.Enabled("Command7", -1));
        EXPECT_TRUE(dialog.Enabled("Command8", -1));
        dialog.click("Command8");
        EXPECT_TRUE(dialog.Enabled("Command7", -1));
        dialog.click("Command3");
    });
    ASSERT_EQ(windowing_.boxes.size(), 3u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("Registration failed!", 0), 0u);
    EXPECT_EQ(windowing_.boxes[1].prompt,
              "Service successfully Registered!\r\n\r\nYou must restart the computer now, to apply the changes");
    EXPECT_EQ(windowing_.boxes[2].prompt,
              "Service successfully UnRegistered!\r\n\r\nYou must restart the computer now, to apply the changes");
    EXPECT_EQ(service_.store["General/Installed"], "False");
}

TEST_F(AdminTest, InDebugModeBothServiceButtonsAreEnabledAndTheCaptionSaysSo) {
    info_.commandLine = "quietwire -DEBUGGING";
    service_.store["General/Installed"] = "True";
    administer([](FakeForm& dialog) {
        EXPECT_EQ(dialog.caption, "Vesk QWADMIN - Administration (debugmode)");
        EXPECT_TRUE(dialog.Enabled("Command7", -1));
        EXPECT_TRUE(dialog.Enabled("Command8", -1));
    });
}

TEST_F(AdminTest, AFailedSaveOnOkSaysWhyAndKeepsTheDialogOpen) {
    administer([this](FakeForm& dialog) {
        FaultyFiles broken(dir_.str(), FaultyFiles::Fault::Crash, 1);
        platform::ScopedInstall<FileSystem> useBroken(broken);
        platform::ScopedInstall<ProfileFile> useBrokenProfile(broken);
        dialog.SetText("Text1", 0, "08:00");
        dialog.click("Command4");
        EXPECT_FALSE(dialog.closed);
    });
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("The settings could not be written.", 0), 0u);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Exclamation);
}

TEST_F(AdminTest, AClickHandledDuringAScanOpensItsPromptOnlyAfterTheScan) {
    windowing_.answers = {std::nullopt};
    administer([this](FakeForm& dialog) {
        windowing_.onDoEvents = [&] {
            windowing_.onDoEvents = nullptr;
            dialog.click("Command2"); // Add, clicked while the scan copies the table
        };
        main_->CheckPorts();
        EXPECT_TRUE(windowing_.prompts.empty()) << "the prompt opened inside the scan";
        windowing_.runPosted();
        EXPECT_EQ(windowing_.prompts.size(), 1u);
        dialog.click("Command3");
    });
}

TEST_F(AdminTest, TheBlockCheckBoxShowsTheChoiceOkStoresItAndCancelDropsIt) {
    administer([](FakeForm& dialog) {
        EXPECT_FALSE(dialog.Value("Check1")) << "a file without the key: off";
        dialog.SetValue("Check1", true);
        dialog.click("Command3");
    });
    EXPECT_FALSE(modGlobals::BlockChosen);
    EXPECT_EQ(readRaw("SETUP", "BLOCK"), "");

    administer([](FakeForm& dialog) {
        dialog.SetValue("Check1", true);
        dialog.click("Command4");
    });
    EXPECT_TRUE(modGlobals::BlockChosen);
    EXPECT_EQ(readRaw("SETUP", "BLOCK"), VtkModule::Encrypt("True", modGlobals::RotationCount));

    administer([](FakeForm& dialog) {
        EXPECT_TRUE(dialog.Value("Check1"));
        dialog.SetValue("Check1", false);
        dialog.click("Command4");
    });
    EXPECT_FALSE(modGlobals::BlockChosen);
    EXPECT_EQ(readRaw("SETUP", "BLOCK"), "") << "off is stored as the key's absence, as older files have it";
}
