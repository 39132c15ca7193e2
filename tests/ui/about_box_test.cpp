// The about box: name, versions, and the notices it is given, scrollable.

#include "ui/about_box.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QTextBrowser>

#include "app/product.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::ui {
namespace {

TEST(AboutBoxTest, ShowsVersionsAndScrollsTheNotices) {
    QString notices = "# Third-party notices\n\n## zlib\n\nCopyright (C) Jean-loup Gailly\n\n";
    for (int i = 0; i < 200; ++i) notices += "A line of licence text.\n\n";
    TAboutBox box(notices);
    box.show();

    EXPECT_EQ(box.findChild<QLabel*>("ProductName")->text().toStdString(), kProductName);
    EXPECT_TRUE(box.findChild<QLabel*>("Version")->text().contains(
        QString::fromLatin1(kProductVersion.data(), kProductVersion.size())));
    const QString libraries = box.findChild<QLabel*>("LibraryVersion")->text();
    EXPECT_TRUE(libraries.contains(QString::fromStdString(imagelib::FreeImage_GetVersion())));
    EXPECT_TRUE(libraries.contains(qVersion()));

    auto* view = box.findChild<QTextBrowser*>("Notices");
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_TRUE(view->toPlainText().contains("Jean-loup Gailly"));
    EXPECT_FALSE(view->toPlainText().contains("##")) << "Markdown is shown formatted";
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0) << "long notices scroll";
    EXPECT_LT(box.height(), 800) << "instead of stretching the box";
}

}  // namespace
}  // namespace pimo::ui
