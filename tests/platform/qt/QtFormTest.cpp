#include "platform/qt/QtForm.h"
#include "platform/FormConformance.h"
#include "platform/qt/QtOffscreenApplication.h"
#include "platform/qt/QtWindowing.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

// The Qt backend's forms, offscreen, driven as a user drives them.
namespace {

struct QtBackend {
    static const QtForm& qt(const Form& form) { return dynamic_cast<const QtForm&>(form); }
    static QWidget* widget(const Form& form, const std::string& name, int index) {
        return qt(form).control(name, index);
    }

    static std::unique_ptr<Windowing> windowing() { return std::make_unique<QtWindowing>(); }
    static double dotsPerInch() { return QGuiApplication::primaryScreen()->logicalDotsPerInch(); }
    static std::string title(const Form& form) { return qt(form).window()->windowTitle().toStdString(); }
    static PixelRect clientArea(const Form& form) {
        const QSize size = qt(form).window()->size();
        return {0, 0, size.width(), size.height()};
    }
    static PixelRect onForm(const Form& form, const std::string& name, int index) {
        const QWidget* w = widget(form, name, index);
        const QPoint at = w->mapTo(qt(form).window(), QPoint(0, 0));
        return {at.x(), at.y(), w->width(), w->height()};
    }
    static char passwordChar(const Form& form, const std::string& name, int index) {
        auto* edit = qobject_cast<QLineEdit*>(widget(form, name, index));
        edit->ensurePolished();
        return edit->echoMode() == QLineEdit::Password
                   ? static_cast<char>(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit))
                   : '\0';
    }
    static bool bold(const Form& form, const std::string& name, int index) {
        return widget(form, name, index)->font().bold();
    }
    static double fontSize(const Form& form, const std::string& name, int index) {
        return widget(form, name, index)->font().pointSizeF();
    }
    static bool showsWholeCaption(const Form& form, const ControlLayout& c) {
        const QWidget* w = widget(form, c.name, c.index);
        if (const auto* frame = qobject_cast<const QGroupBox*>(w)) {
            return QFontMetrics(frame->font()).horizontalAdvance(frame->title()) <= frame->width();
        }
        const auto* label = qobject_cast<const QLabel*>(w);
        return label->minimumSizeHint().width() <= label->width() &&
               label->heightForWidth(label->width()) <= label->height();
    }
    static void activate(Form& form) {
        form.Show(false);
        QApplication::setActiveWindow(qt(form).window());
        EXPECT_TRUE(QTest::qWaitForWindowActive(qt(form).window()));
    }
    static void press(Form&, UserKey key) {
        const Qt::Key qtKey = key == UserKey::Tab     ? Qt::Key_Tab
                              : key == UserKey::Enter ? Qt::Key_Return
                                                      : Qt::Key_Escape;
        QTest::keyClick(QApplication::focusWidget(), qtKey);
    }
    static void click(Form& form, const std::string& name, int index) {
        QTest::mouseClick(widget(form, name, index), Qt::LeftButton);
    }
    static void closeBox(Form& form) { qt(form).window()->close(); }
    static bool focused(const Form& form, const std::string& name, int index) {
        return QApplication::focusWidget() == widget(form, name, index);
    }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, FormConformance, QtBackend);
