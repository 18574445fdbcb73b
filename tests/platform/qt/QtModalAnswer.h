#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Answers the first modal dialog or pop-up of the given class (by its Qt class name) that comes up
// while this lives, as a user would once it is on the screen: a modal showing runs a nested loop, so
// the answer has to come from the loop itself. Polling stops when it has answered or goes out of scope,
// so a dialog that never came cannot be answered by a later test.
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> answer, const char* kind = "QWidget")
        : poll_(std::make_unique<QTimer>()) {
        QObject::connect(poll_.get(), &QTimer::timeout, [this, answer = std::move(answer), kind] {
            QWidget* up = QApplication::activePopupWidget();
            if (up == nullptr) {
                up = QApplication::activeModalWidget();
            }
            if (up != nullptr && up->isVisible() && up->inherits(kind)) {
                poll_->stop();
                answer(up);
                answered_ = true;
            }
        });
        poll_->start(10);
    }
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

    bool answered() const { return answered_; }

private:
    std::unique_ptr<QTimer> poll_;
    bool answered_ = false;
};
