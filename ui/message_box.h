#pragma once
// The engine's message kinds and buttons as a modal message box.

#include <QWidget>
#include <string>

#include "engine/host.h"

namespace pimo::ui {

/// Shows `text` modally over `parent` and returns the button chosen.
engine::MessageAnswer ShowMessageBox(QWidget* parent, engine::MessageKind kind,
                                     const std::string& text, engine::MessageButtons buttons);

/// UTF-8 text as a QString.
QString Qs(const std::string& text);

/// A host for the batch library's calls made on behalf of a window other than
/// the main one: messages over that window and pending events; nothing else.
class DialogHost : public engine::Host {
  public:
    explicit DialogHost(QWidget* parent) : m_parent(parent) {}
    void setStatusText(const std::string&, int) override {}
    void setBusyCursor(bool) override {}
    engine::MessageAnswer showMessage(engine::MessageKind kind, const std::string& text,
                                      engine::MessageButtons buttons) override {
        return ShowMessageBox(m_parent, kind, text, buttons);
    }
    void showBalloon(const std::string&, const std::string&, int) override {}
    void hideBalloon() override {}
    void processPendingEvents() override;
    void setMainWindowEnabled(bool) override {}

  private:
    QWidget* m_parent;
};

}  // namespace pimo::ui
