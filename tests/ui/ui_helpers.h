#pragma once
// Acting on modal dialogs from inside their own event loops.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace pimo::test {

/// Runs `act` on the next visible top-level widget of type Dialog (with the
/// object name `name`, when one is given), polling from the event loop (also
/// the loop of a modal dialog).
template <typename Dialog>
void WhenShown(std::function<void(Dialog*)> act, const QString& name = {}) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, act, name] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<Dialog*>(widget);
            if (!dialog || !dialog->isVisible()) continue;
            if (!name.isEmpty() && dialog->objectName() != name) continue;
            timer->stop();
            timer->deleteLater();
            act(dialog);
            return;
        }
    });
    timer->start(10);
}

/// Answers the next message box with `button`, keeping its text in `texts`.
inline void AnswerNextMessage(QMessageBox::StandardButton button, std::vector<std::string>& texts) {
    WhenShown<QMessageBox>([button, &texts](QMessageBox* box) {
        texts.push_back(box->text().toStdString());
        box->button(button)->click();
    });
}

}  // namespace pimo::test
