#include "app/message_boxes.h"

#include <QString>

namespace ferret {

QMessageBox::Icon MessageBoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kWarning:
            return QMessageBox::Warning;
        case MessageIcon::kCritical:
            return QMessageBox::Critical;
        case MessageIcon::kQuestion:
            return QMessageBox::Question;
        case MessageIcon::kInformation:
            break;
    }
    return QMessageBox::Information;
}

void OpenMessageBox(QWidget* parent, const UserMessage& message) {
    auto* box = new QMessageBox(MessageBoxIcon(message.icon), QString::fromStdString(message.title),
                                QString::fromStdString(message.text), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace ferret
