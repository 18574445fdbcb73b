#include "platform/qt/QtForm.h"
#include "platform/FormGeometry.h"
#include "platform/LabelFitting.h"
#include "platform/qt/QtTrayShell.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <stdexcept>

namespace {

QString text(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}
std::string bytes(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// The font at size, measured as a word-wrapping QLabel lays out its caption.
bool captionFits(QFont font, double size, const std::string& caption, int width, int height) {
    font.setPointSizeF(size);
    const QRectF box(0, 0, width, height);
    return box.contains(QFontMetricsF(font).boundingRect(box, Qt::TextWordWrap, text(caption)));
}

} // namespace

// The dialog: Esc does not close it (no button is bound to Esc), and a close request goes to the
// form's handlers, which may cancel it.
class QtForm::Dialog final : public QDialog {
public:
    explicit Dialog(FormHandlers& handlers) : handlers_(handlers) {}

    void closeByCode() {
        byCode_ = true;
        close();
        byCode_ = false;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            event->ignore();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override {
        if (handlers_.QueryUnload(byCode_ ? CloseReason::Code : CloseReason::User)) {
            event->ignore();
            return;
        }
        handlers_.Unload();
        event->accept();
        if (isModal()) {
            done(0); // ends the nested loop of a modal showing
        }
    }

private:
    FormHandlers& handlers_;
    bool byCode_ = false;
};

QtForm::QtForm(const FormLayout& layout, FormHandlers& handlers)
    : handlers_(handlers), dialog_(std::make_unique<Dialog>(handlers)) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
    QFont font(text(layout.fontName)); // Qt takes the nearest font where Tahoma is missing
    font.setPointSizeF(layout.fontSize);
    font.setBold(false); // stated, so that controls in a bold frame do not inherit its weight
    font.setPointSizeF(fitLabelFont(layout, dpi, dpi, {layout.fontSize, 0.25, layout.fontSize * 0.75},
                                    [&font](double size, const std::string& caption, int width, int height) {
                                        return captionFits(font, size, caption, width, height);
                                    }));
    dialog_->setFont(font);
    dialog_->setWindowTitle(text(layout.caption));
    dialog_->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                            Qt::WindowCloseButtonHint);
    const FormGeometry geometry(layout, dpi, dpi);
    dialog_->setFixedSize(geometry.clientWidth(), geometry.clientHeight());

    for (const ControlLayout& c : layout.controls) {
        // Qt's group boxes hold their controls: a control is placed within its container.
        const PixelRect at = geometry.place(c).rect;
        QWidget* parent = dialog_.get();
        if (!c.container.empty()) {
            parent = control(c.container);
        }
        QWidget* widget = nullptr;
        switch (c.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(text(c.caption), parent);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(text(c.caption), parent);
            if (c.passwordChar != '\0') {
                edit->setEchoMode(QLineEdit::Password);
                edit->setStyleSheet(QString("lineedit-password-character: %1").arg(int(c.passwordChar)));
            }
            widget = edit;
            break;
        }
        case ControlKind::CommandButton: {
            auto* button = new QPushButton(text(c.caption), parent);
            button->setAutoDefault(false);
            button->setDefault(c.isDefault);
            const std::string name = c.name;
            const int index = c.index;
            QObject::connect(button, &QPushButton::clicked, [this, name, index] { handlers_.Click(name, index); });
            widget = button;
            break;
        }
        case ControlKind::ListBox:
            widget = new QListWidget(parent);
            break;
        case ControlKind::CheckBox:
            widget = new QCheckBox(text(c.caption), parent);
            break;
        case ControlKind::Frame: {
            auto* frame = new QGroupBox(text(c.caption), parent);
            QFont bold = font;
            bold.setBold(c.bold);
            frame->setFont(bold);
            widget = frame;
            break;
        }
        case ControlKind::Line: {
            auto* line = new QFrame(parent);
            line->setFrameShape(at.height > at.width ? QFrame::VLine : QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            widget = line;
            break;
        }
        case ControlKind::PictureBox:
            widget = new QLabel(parent);
            break;
        case ControlKind::Timer: {
            auto* timer = new QTimer(dialog_.get());
            // Qt's default lets a timer drift by up to 5%; the enforcement tick's period is a promise.
            timer->setTimerType(Qt::PreciseTimer);
            timer->setInterval(c.interval);
            const std::string name = c.name;
            QObject::connect(timer, &QTimer::timeout, [this, name] { handlers_.TimerTick(name); });
            timers_[c.name] = timer;
            continue;
        }
        }
        widget->setFont(c.kind == ControlKind::Frame ? widget->font() : font);
        widget->setGeometry(at.left, at.top, at.width, at.height);
        if (c.kind == ControlKind::Label || c.kind == ControlKind::Frame || c.kind == ControlKind::PictureBox) {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        widget->setObjectName(text(c.index >= 0 ? c.name + "(" + std::to_string(c.index) + ")" : c.name));
        controls_.add(c.name, c.index, widget);
    }
    QWidget* previous = nullptr;
    for (const ControlLayout* c : tabOrder(layout)) {
        QWidget* next = control(c->name, c->index);
        if (previous == nullptr) {
            next->setFocus();
        } else {
            QWidget::setTabOrder(previous, next);
        }
        previous = next;
    }
    if (layout.centred && screen != nullptr) {
        dialog_->move(screen->availableGeometry().center() - dialog_->rect().center());
    }
}

QtForm::~QtForm() = default;

QDialog* QtForm::window() const {
    return dialog_.get();
}

QWidget* QtForm::control(const std::string& name, int index) const {
    return controls_.at(name, index).data();
}

template <class T> T* QtForm::find(const std::string& name, int index) const {
    T* widget = qobject_cast<T*>(control(name, index));
    if (widget == nullptr) {
        throw std::logic_error(name + " is not a control of that kind");
    }
    return widget;
}

void QtForm::Show(bool modal) {
    if (modal) {
        // The window it was opened from is active again once it has closed, as a Windows form gives its
        // owner back the activation (without a window manager nothing else would).
        const QPointer<QWidget> opener = QApplication::activeWindow();
        dialog_->setModal(true);
        dialog_->exec();
        dialog_->setModal(false);
        if (opener != nullptr && opener->isVisible()) {
            opener->activateWindow();
        }
    } else {
        dialog_->show();
    }
}

void QtForm::Hide() {
    dialog_->hide();
}
void QtForm::Close() {
    dialog_->closeByCode();
}
bool QtForm::Visible() const {
    return dialog_->isVisible();
}
uintptr_t QtForm::Handle() const {
    return static_cast<uintptr_t>(dialog_->winId());
}
void QtForm::SetCaption(const std::string& caption) {
    dialog_->setWindowTitle(text(caption));
}

void QtForm::SetWindowIcon(uintptr_t icon) {
    dialog_->setWindowIcon(QtTrayShell::IconOf(icon));
}

void QtForm::SetPicture(const std::string& pictureBox, uintptr_t icon) {
    QLabel* box = find<QLabel>(pictureBox, -1);
    box->setPixmap(QtTrayShell::IconOf(icon).pixmap(box->size()));
}

std::string QtForm::Text(const std::string& control, int index) const {
    QWidget* w = this->control(control, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return bytes(edit->text());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return bytes(button->text());
    }
    if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        return bytes(frame->title());
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return bytes(label->text());
    }
    return {};
}

void QtForm::SetText(const std::string& control, int index, const std::string& value) {
    QWidget* w = this->control(control, index);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text(value));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text(value));
    } else if (auto* frame = qobject_cast<QGroupBox*>(w)) {
        frame->setTitle(text(value));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text(value));
    }
}

void QtForm::SelectAll(const std::string& control, int index) {
    find<QLineEdit>(control, index)->selectAll();
}
void QtForm::SetFocus(const std::string& control, int index) {
    this->control(control, index)->setFocus();
}
void QtForm::SetEnabled(const std::string& control, int index, bool enabled) {
    this->control(control, index)->setEnabled(enabled);
}
bool QtForm::Enabled(const std::string& control, int index) const {
    return this->control(control, index)->isEnabled();
}

bool QtForm::Value(const std::string& checkBox) const {
    return find<QCheckBox>(checkBox, -1)->isChecked();
}
void QtForm::SetValue(const std::string& checkBox, bool ticked) {
    find<QCheckBox>(checkBox, -1)->setChecked(ticked);
}

int QtForm::ListCount(const std::string& list) const {
    return find<QListWidget>(list, -1)->count();
}
std::string QtForm::List(const std::string& list, int entry) const {
    const QListWidgetItem* item = find<QListWidget>(list, -1)->item(entry);
    return item != nullptr ? bytes(item->text()) : std::string();
}
void QtForm::AddItem(const std::string& list, const std::string& value) {
    find<QListWidget>(list, -1)->addItem(text(value));
}
void QtForm::RemoveItem(const std::string& list, int entry) {
    delete find<QListWidget>(list, -1)->takeItem(entry);
}
void QtForm::SetList(const std::string& list, int entry, const std::string& value) {
    if (QListWidgetItem* item = find<QListWidget>(list, -1)->item(entry)) {
        item->setText(text(value));
    }
}
int QtForm::ListIndex(const std::string& list) const {
    return find<QListWidget>(list, -1)->currentRow();
}
void QtForm::SetListIndex(const std::string& list, int entry) {
    find<QListWidget>(list, -1)->setCurrentRow(entry);
}

void QtForm::SetTimer(const std::string& timer, bool enabled) {
    QTimer* t = timers_.at(timer);
    if (enabled) {
        t->start();
    } else {
        t->stop();
    }
}
bool QtForm::TimerEnabled(const std::string& timer) const {
    return timers_.at(timer)->isActive();
}
