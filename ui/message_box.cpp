#include "ui/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace pimo::ui {

QString Qs(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

engine::MessageAnswer ShowMessageBox(QWidget* parent, engine::MessageKind kind,
                                     const std::string& text, engine::MessageButtons buttons) {
    using engine::MessageAnswer;
    const QMessageBox::StandardButtons choices =
        buttons == engine::MessageButtons::Ok      ? QMessageBox::Ok
        : buttons == engine::MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                   : QMessageBox::Yes | QMessageBox::Abort;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (kind == engine::MessageKind::Warning) icon = QMessageBox::Warning;
    if (kind == engine::MessageKind::Error) icon = QMessageBox::Critical;
    if (kind == engine::MessageKind::Confirmation) icon = QMessageBox::Question;
    QMessageBox box(icon, QApplication::applicationName(), Qs(text), choices, parent);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Abort:
            return MessageAnswer::Abort;
        default:
            return MessageAnswer::Ok;
    }
}

void DialogHost::processPendingEvents() {
    QApplication::processEvents();
}

}  // namespace pimo::ui
