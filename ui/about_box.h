#pragma once
// The about box: the program's name and version, the image library's
// version, and the notices and licences of the components shipped with it.

#include <QDialog>
#include <QString>

namespace pimo::ui {

/// What the box says about the program; the window passes the product's
/// name and version and the image library's version text.
struct AboutFacts {
    QString name;
    QString version;
    QString libraryVersion;
};

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    /// `notices`: the third-party notices in Markdown, shown in a scrollable view.
    TAboutBox(const AboutFacts& facts, const QString& notices, QWidget* parent = nullptr);
};

}  // namespace pimo::ui
