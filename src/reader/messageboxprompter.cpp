#include "messageboxprompter.h"

#include <QMessageBox>

namespace quorvel {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageAnswer MessageBoxPrompter::prompt(const Message& message) {
    const bool withCancel = message.buttons == MessageButtons::OkCancel;
    QMessageBox box(boxIcon(message.icon), message.title, message.text,
                    withCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, m_parent);
    box.setDefaultButton(QMessageBox::Ok);
    if (withCancel)
        box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

} // namespace quorvel
