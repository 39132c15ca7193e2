// The about box: name, versions, and the notices it is given, scrollable.

#include "ui/about_box.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QTextBrowser>

namespace pimo::ui {
namespace {

TEST(AboutBoxTest, ShowsVersionsAndScrollsTheNotices) {
    QString notices = "# Third-party notices\n\n## zlib\n\nCopyright (C) Jean-loup Gailly\n\n";
    for (int i = 0; i < 200; ++i) notices += "A line of licence text.\n\n";
    TAboutBox box({"PIMO", "0.6.2.0", "3.18.0 (PIMO-0.5.0-FI-3.15.3)"}, notices);
    box.show();

    EXPECT_EQ(box.findChild<QLabel*>("ProductName")->text(), "PIMO");
    EXPECT_EQ(box.windowTitle(), "About PIMO");
    EXPECT_EQ(box.findChild<QLabel*>("Version")->text(), "Version 0.6.2.0");
    EXPECT_EQ(box.findChild<QLabel*>("LibraryVersion")->text(),
              QString("FreeImage 3.18.0 (PIMO-0.5.0-FI-3.15.3)\nQt ") + qVersion());

    auto* view = box.findChild<QTextBrowser*>("Notices");
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_TRUE(view->toPlainText().contains("Jean-loup Gailly"));
    EXPECT_FALSE(view->toPlainText().contains("##")) << "Markdown is shown formatted";
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0) << "long notices scroll";
    EXPECT_LT(box.height(), 800) << "instead of stretching the box";
}

}  // namespace
}  // namespace pimo::ui
