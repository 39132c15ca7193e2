#pragma once
// The about box: the program's name and version, the image library's
// version, and the notices and licences of the components shipped with it.

#include <QDialog>
#include <QString>

namespace pimo::ui {

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    /// `notices`: the third-party notices in Markdown, shown in a scrollable view.
    explicit TAboutBox(const QString& notices, QWidget* parent = nullptr);
};

/// "Version " and the program's version.
QString ProductVersionText();
/// The image library's version text and the widget toolkit's version.
QString LibraryVersionsText();

}  // namespace pimo::ui
