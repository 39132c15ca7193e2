#include "ui/about_box.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/named.h"

namespace pimo::ui {

TAboutBox::TAboutBox(const AboutFacts& facts, const QString& notices, QWidget* parent)
    : QDialog(parent) {
    setObjectName("AboutBox");
    setWindowTitle(tr("About %1").arg(facts.name));

    auto* productName = Named(new QLabel(facts.name), "ProductName");
    QFont large = productName->font();
    large.setPointSizeF(large.pointSizeF() * 1.8);
    large.setBold(true);
    productName->setFont(large);
    auto* version = Named(new QLabel(tr("Version %1").arg(facts.version)), "Version");
    auto* libraries =
        Named(new QLabel(tr("FreeImage %1\nQt %2").arg(facts.libraryVersion, qVersion())),
              "LibraryVersion");
    libraries->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Long licence texts scroll inside the box instead of stretching it.
    auto* view = Named(new QTextBrowser, "Notices");
    view->setOpenExternalLinks(true);
    view->setMarkdown(notices);
    view->setMinimumSize(520, 300);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("OKButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(productName);
    layout->addWidget(version);
    layout->addWidget(libraries);
    layout->addSpacing(6);
    layout->addWidget(new QLabel(tr("Components and their licences:")));
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    resize(620, 520);
}

}  // namespace pimo::ui
