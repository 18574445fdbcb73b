#include "platform/ProgramIcons.h"
#include "platform/qt/QtTestApplication.h"
#include "platform/qt/QtTrayShell.h"

#include <QImage>

// The embedded icons load with both sizes, and the two keys have their colours.
namespace {

QColor shaftColour(ProgramIcon icon) {
    const QImage image = QtTrayShell::IconOf(LoadProgramIcon(icon)).pixmap(32, 32).toImage();
    return image.pixelColor(20, 12);
}

} // namespace

TEST(QtProgramIcons, TheEmbeddedIconsLoadWithBothSizes) {
    for (const ProgramIcon icon : {ProgramIcon::Window, ProgramIcon::Open, ProgramIcon::Blocked}) {
        const uintptr_t handle = LoadProgramIcon(icon);
        ASSERT_NE(handle, 0u);
        const QList<QSize> sizes = QtTrayShell::IconOf(handle).availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
    }
    EXPECT_EQ(LoadProgramIcon(ProgramIcon::Open), LoadProgramIcon(ProgramIcon::Open)) << "loaded once";
}

TEST(QtProgramIcons, TheOpenKeyIsYellowAndTheBlockedKeyRed) {
    const QColor open = shaftColour(ProgramIcon::Open);
    const QColor blocked = shaftColour(ProgramIcon::Blocked);
    EXPECT_GT(open.red(), 200);
    EXPECT_GT(open.green(), 150);
    EXPECT_LT(open.blue(), 100);
    EXPECT_GT(blocked.red(), 180);
    EXPECT_LT(blocked.green(), 80);
}
