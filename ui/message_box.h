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

}  // namespace pimo::ui
