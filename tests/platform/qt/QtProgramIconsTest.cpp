#include "platform/ProgramIcons.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtTrayShell.h"
#include "support/SampleForm.h"

#include "platform/qt/QtForm.h"
#include <QDialog>
#include <QImage>
#include <QLabel>

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

TEST(QtProgramIcons, AFormShowsThemAsItsIconAndInPictureBoxes) {
    FormHandlers handlers;
    QtForm form(pictureLayout(), handlers);
    form.SetWindowIcon(LoadProgramIcon(ProgramIcon::Window));
    form.SetPicture("Picture1", LoadProgramIcon(ProgramIcon::Open));
    EXPECT_FALSE(form.window()->windowIcon().isNull());
    const QImage shown = qobject_cast<QLabel*>(form.control("Picture1"))->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    EXPECT_GT(shown.pixelColor(shown.width() * 20 / 32, shown.height() * 12 / 32).red(), 200);
}
