#include "ui/about_box.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/product.h"
#include "engine/imagelib/freeimage_ext.h"
#include "ui/message_box.h"
#include "ui/named.h"

namespace pimo::ui {

QString ProductVersionText() {
    return QObject::tr("Version %1").arg(Qs(std::string(kProductVersion)));
}

QString LibraryVersionsText() {
    return QObject::tr("FreeImage %1\nQt %2")
        .arg(Qs(imagelib::FreeImage_GetVersion()), QString::fromLatin1(qVersion()));
}

TAboutBox::TAboutBox(const QString& notices, QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox");
    const QString name = Qs(std::string(kProductName));
    setWindowTitle(tr("About %1").arg(name));

    auto* productName = Named(new QLabel(name), "ProductName");
    QFont large = productName->font();
    large.setPointSizeF(large.pointSizeF() * 1.8);
    large.setBold(true);
    productName->setFont(large);
    auto* version = Named(new QLabel(ProductVersionText()), "Version");
    auto* libraries = Named(new QLabel(LibraryVersionsText()), "LibraryVersion");
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
