#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <vector>

namespace ferret::testing {

// Every message box shown while it lives, each answered at once, so no test waits on one.
class MessageRecorder {
  public:
    struct Message {
        QString text;
        QString title;
        QMessageBox::Icon icon;
    };

    MessageRecorder() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget);
                    box != nullptr && box->isVisible()) {
                    messages_.push_back({box->text(), box->windowTitle(), box->icon()});
                    box->accept();
                }
            }
        });
        timer_.start(0);
    }

    const std::vector<Message>& messages() const { return messages_; }
    QStringList Texts() const {
        QStringList texts;
        for (const Message& message : messages_) {
            texts << message.text;
        }
        return texts;
    }
    void Clear() { messages_.clear(); }

  private:
    QTimer timer_;
    std::vector<Message> messages_;
};

}  // namespace ferret::testing
