#include "tray/VeskTray.h"
#include "fakes/FakeTrayShell.h"
#include "fakes/FakeWindowing.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uintptr_t ControlWindow = 0x1234;

PictureRef icon(uintptr_t handle) {
    return std::make_shared<const Picture>(Picture{PictureType::Icon, handle});
}
PictureRef bitmap(uintptr_t handle) {
    return std::make_shared<const Picture>(Picture{PictureType::Bitmap, handle});
}

class RecordingHost : public VeskTrayHost {
public:
    bool userMode = true;
    std::vector<std::string> changes;
    std::vector<std::string> events;

    bool UserMode() const override { return userMode; }
    void PropertyChanged(const std::string& property) override { changes.push_back(property); }
    void MouseMove(int32_t Id) override { events.push_back("MouseMove " + std::to_string(Id)); }
    void MouseDown(int16_t Button, int32_t Id) override { record("MouseDown", Button, Id); }
    void MouseUp(int16_t Button, int32_t Id) override { record("MouseUp", Button, Id); }
    void MouseDblClick(int16_t Button, int32_t Id) override { record("MouseDblClick", Button, Id); }

private:
    void record(const char* name, int16_t button, int32_t id) {
        events.push_back(std::string(name) + " " + std::to_string(button) + " " + std::to_string(id));
    }
};

class VeskTrayTest : public ::testing::Test {
protected:
    FakeTrayShell shell_;
    FakeWindowing windowing_;
    platform::ScopedInstall<TrayShell> useShell_{shell_};
    platform::ScopedInstall<Windowing> useWindowing_{windowing_};
    RecordingHost host_;
    PictureRef builtIn_ = icon(0xB0);
};

} // namespace

TEST(VeskTipField, TextNulAndSpacesCutTo64) {
    const auto field = VeskTray::TipField("Vesk Quietwire");
    EXPECT_EQ(std::string(field.data(), 14), "Vesk Quietwire");
    EXPECT_EQ(field[14], '\0');
    EXPECT_EQ(std::string(field.data() + 15, 49), std::string(49, ' '));

    const std::string seventy(70, 'x');
    EXPECT_EQ(std::string(VeskTray::TipField(seventy).data(), 64), std::string(64, 'x'));
    const std::string sixtyThree(63, 'y');
    const auto full = VeskTray::TipField(sixtyThree);
    EXPECT_EQ(full[63], '\0');
}

TEST_F(VeskTrayTest, AddingSendsTheIconTheTipAndTheCallbackMessage) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.InitProperties();
    tray.TrayTip("Vesk Quietwire");
    tray.TrayIcon(icon(0x77));
    shell_.calls.clear();
    host_.changes.clear();

    tray.InTray(true);

    ASSERT_EQ(shell_.calls.size(), 1u);
    const auto& add = shell_.calls[0];
    EXPECT_EQ(add.message, TrayMessage::Add);
    EXPECT_EQ(add.data.hWnd, ControlWindow);
    EXPECT_EQ(add.data.uID, 0u);
    EXPECT_EQ(add.data.uFlags, TrayFlag::Message | TrayFlag::Icon | TrayFlag::Tip);
    EXPECT_EQ(add.data.hIcon, 0x77u);
    EXPECT_EQ(add.tip(), std::string("Vesk Quietwire") + '\0' + std::string(49, ' '));
    EXPECT_EQ(shell_.hooks, 1);
    EXPECT_EQ(host_.changes, std::vector<std::string>{"InTray"});
}

TEST_F(VeskTrayTest, AnEmptyTipIsNotSentAndNoPictureSendsNoIcon) {
    VeskTray tray(ControlWindow, host_, nullptr);
    tray.InTray(true);
    ASSERT_EQ(shell_.calls.size(), 1u);
    EXPECT_EQ(shell_.calls[0].data.uFlags, TrayFlag::Message);
    EXPECT_EQ(shell_.calls[0].data.hIcon, 0u);
}

TEST_F(VeskTrayTest, SettingInTrayToItsValueDoesNothing) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.InTray(false);
    EXPECT_TRUE(host_.changes.empty());
    tray.InTray(true);
    tray.InTray(true);
    EXPECT_EQ(shell_.calls.size(), 1u);
    EXPECT_EQ(host_.changes.size(), 1u);
}

TEST_F(VeskTrayTest, RemovingDeletesTheIconAndRestoresTheWindowProcedure) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.InTray(true);
    tray.InTray(false);
    ASSERT_EQ(shell_.calls.size(), 2u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Delete);
    EXPECT_EQ(shell_.calls[1].data.uFlags, 0u);
    EXPECT_EQ(shell_.calls[1].data.hWnd, ControlWindow);
    EXPECT_EQ(shell_.unhooks, 1);
    EXPECT_FALSE(tray.InTray());
}

TEST_F(VeskTrayTest, WhileDesigningInTrayIsMarkedWithoutTouchingTheShell) {
    host_.userMode = false;
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.InTray(true);
    EXPECT_TRUE(tray.InTray());
    EXPECT_TRUE(shell_.calls.empty());
    EXPECT_EQ(shell_.hooks, 0);
    tray.InTray(false);
    EXPECT_TRUE(shell_.calls.empty());
    EXPECT_EQ(shell_.unhooks, 0);
}

TEST_F(VeskTrayTest, ThePictureChangesOnlyForIconsOfAnEnabledAddedComponent) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.TrayIcon(icon(1));
    EXPECT_TRUE(shell_.calls.empty()) << "not added yet";
    tray.InTray(true);
    tray.TrayIcon(icon(2));
    ASSERT_EQ(shell_.calls.size(), 2u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Modify);
    EXPECT_EQ(shell_.calls[1].data.uFlags, TrayFlag::Icon);
    EXPECT_EQ(shell_.calls[1].data.hIcon, 2u);

    tray.TrayIcon(bitmap(3));
    EXPECT_EQ(shell_.calls.size(), 2u) << "a bitmap is not sent as the icon";
    EXPECT_EQ(tray.DisplayedPicture()->handle, 3u);

    tray.Enabled(false);
    EXPECT_EQ(shell_.calls.size(), 2u) << "an empty disabled icon keeps the tray picture";
    tray.TrayIcon(icon(4));
    EXPECT_EQ(shell_.calls.size(), 2u) << "disabled: stored, not shown";
    EXPECT_EQ(tray.TrayIcon()->handle, 4u);
    tray.Enabled(true);
    ASSERT_EQ(shell_.calls.size(), 3u);
    EXPECT_EQ(shell_.calls[2].data.hIcon, 4u);

    tray.DisabledIcon(icon(5));
    EXPECT_EQ(shell_.calls.size(), 3u) << "setting the disabled icon never touches the tray";
    tray.Enabled(false);
    ASSERT_EQ(shell_.calls.size(), 4u);
    EXPECT_EQ(shell_.calls[3].data.hIcon, 5u);
}

TEST_F(VeskTrayTest, ABitmapGivenAsTrayIconIsUsedByTheNextAdd) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.TrayIcon(bitmap(9));
    tray.InTray(true);
    EXPECT_EQ(shell_.calls.back().data.hIcon, 9u);
}

TEST_F(VeskTrayTest, ATipSetBeforeAddingIsOnlyStoredThenUsed) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.TrayTip("first");
    EXPECT_TRUE(shell_.calls.empty());
    tray.InTray(true);
    tray.TrayTip("second");
    ASSERT_EQ(shell_.calls.size(), 2u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Modify);
    EXPECT_EQ(shell_.calls[1].data.uFlags, TrayFlag::Tip);
    EXPECT_EQ(std::string(shell_.calls[1].data.szTip, 7), std::string("second") + '\0');
    EXPECT_EQ(tray.TrayTip(), "second");
}

TEST_F(VeskTrayTest, MouseMessagesBecomeEventsWithButtonAndId) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.InTray(true);
    for (uint32_t message : {0x200u, 0x201u, 0x202u, 0x203u, 0x204u, 0x205u, 0x206u, 0x207u, 0x208u, 0x209u, 0x100u}) {
        shell_.send(message);
    }
    EXPECT_EQ(host_.events,
              (std::vector<std::string>{"MouseMove 0", "MouseDown 1 0", "MouseUp 1 0", "MouseDblClick 1 0",
                                        "MouseDown 2 0", "MouseUp 2 0", "MouseDblClick 2 0"}));
    host_.events.clear();
    tray.Enabled(false);
    shell_.send(0x205);
    EXPECT_TRUE(host_.events.empty()) << "a disabled component raises nothing";
}

TEST_F(VeskTrayTest, PropertiesAreWrittenAndReadInTheirOrder) {
    PropertyBag bag;
    {
        VeskTray tray(ControlWindow, host_, builtIn_);
        tray.InitProperties();
        tray.TrayIcon(icon(7));
        tray.TrayTip("Vesk Quietwire");
        tray.WriteProperties(bag);
    }
    std::vector<std::string> keys;
    for (const auto& [key, value] : bag.values()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"intray", "trayicon", "traytip", "disabledicon"}))
        << "Enabled is written only when false";

    bag.write("InTray", true);
    host_.changes.clear();
    VeskTray loaded(ControlWindow, host_, builtIn_);
    loaded.ReadProperties(bag);
    EXPECT_EQ(host_.changes, (std::vector<std::string>{"InTray", "TrayIcon", "TrayTip"}));
    // Added first with the empty tip and no picture, then updated by the setters that follow.
    ASSERT_EQ(shell_.calls.size(), 3u);
    EXPECT_EQ(shell_.calls[0].message, TrayMessage::Add);
    EXPECT_EQ(shell_.calls[0].data.uFlags, TrayFlag::Message);
    EXPECT_EQ(shell_.calls[1].data.hIcon, 7u);
    EXPECT_EQ(shell_.calls[2].data.uFlags, TrayFlag::Tip);
    EXPECT_TRUE(loaded.Enabled());
}

TEST_F(VeskTrayTest, DefaultsOfANewInstanceAndOfAnEmptyStore) {
    VeskTray fresh(ControlWindow, host_, builtIn_);
    fresh.InitProperties();
    EXPECT_FALSE(fresh.InTray());
    EXPECT_EQ(fresh.TrayTip(), std::string(1, '\0'));
    EXPECT_EQ(fresh.TrayIcon(), builtIn_);

    VeskTray read(ControlWindow, host_, builtIn_);
    read.ReadProperties(PropertyBag());
    EXPECT_FALSE(read.InTray());
    EXPECT_EQ(read.TrayIcon(), builtIn_);
    EXPECT_EQ(read.TrayTip(), std::string(1, '\0'));
    ASSERT_TRUE(read.DisabledIcon());
    EXPECT_EQ(read.DisabledIcon()->type, PictureType::None);
    EXPECT_TRUE(read.Enabled());
}

TEST_F(VeskTrayTest, DestroyingTheComponentTakesTheIconOut) {
    {
        VeskTray tray(ControlWindow, host_, builtIn_);
        tray.InTray(true);
    }
    ASSERT_EQ(shell_.calls.size(), 2u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Delete);
    EXPECT_EQ(shell_.unhooks, 1);
}

TEST_F(VeskTrayTest, DestroyingTheComponentAfterTheShellIsGoneDoesNotEndTheProgram) {
    auto tray = std::make_unique<VeskTray>(ControlWindow, host_, builtIn_);
    tray->InTray(true);
    TrayShell* shell = platform::install<TrayShell>(nullptr);
    EXPECT_NO_THROW(tray.reset());
    platform::install(shell);
}

TEST_F(VeskTrayTest, TheAboutBoxNamesTheComponent) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.AboutBox();
    ASSERT_EQ(windowing_.boxes.size(), 1u);
    EXPECT_EQ(windowing_.boxes[0].prompt.rfind("VeskTray V.1.0 - ", 0), 0u);
    EXPECT_NE(windowing_.boxes[0].prompt.find("\r\n"), std::string::npos);
    EXPECT_EQ(windowing_.boxes[0].icon, MsgBoxIcon::Information);
    EXPECT_EQ(windowing_.boxes[0].title, "QWADMIN");
}

TEST_F(VeskTrayTest, ANewTaskbarGetsTheIconAgainOnlyWhileItIsIn) {
    VeskTray tray(ControlWindow, host_, builtIn_);
    tray.TrayTip("Vesk Quietwire");
    tray.TrayIcon(icon(7));
    tray.TaskbarCreated();
    EXPECT_TRUE(shell_.calls.empty());
    tray.InTray(true);
    tray.TaskbarCreated();
    ASSERT_EQ(shell_.calls.size(), 2u);
    EXPECT_EQ(shell_.calls[1].message, TrayMessage::Add);
    EXPECT_EQ(shell_.calls[1].data.uFlags, TrayFlag::Message | TrayFlag::Icon | TrayFlag::Tip);
}
