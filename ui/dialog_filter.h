#pragma once
// File-dialog filters written as "description|patterns|description|patterns"
// (patterns separated by ";"), turned into the toolkit's form.

#include <QString>
#include <string_view>

namespace pimo::ui {

/// "JPEG|*.jpg;*.jpeg|GIF|*.gif" becomes "JPEG (*.jpg *.jpeg);;GIF (*.gif)".
QString DialogFilter(std::string_view pairs);

}  // namespace pimo::ui
