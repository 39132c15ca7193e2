// Full screen hides the window's chrome and gives it back.

#include "ui/full_screen.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>

namespace pimo::ui {
namespace {

TEST(FullScreen, HidesTheChromeAndGivesItBack) {
    QMainWindow window;
    window.menuBar()->addMenu("File");
    window.statusBar()->showMessage("Ready");
    auto* panel = new QLabel("top panel");
    auto* hiddenBefore = new QLabel("hidden before");
    auto* central = new QWidget;
    panel->setParent(central);
    hiddenBefore->setParent(central);
    window.setCentralWidget(central);
    window.show();
    hiddenBefore->hide();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    FullScreenSwitch fullScreen(window, {panel, hiddenBefore});
    EXPECT_EQ(fullScreen.action()->objectName(), "FullScreen");
    EXPECT_EQ(fullScreen.action()->shortcut(), QKeySequence(Qt::Key_F11));
    EXPECT_FALSE(fullScreen.button()->isVisible());

    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(fullScreen.active());
    EXPECT_TRUE(window.windowState() & Qt::WindowFullScreen);
    EXPECT_FALSE(window.menuBar()->isVisible());
    EXPECT_FALSE(window.statusBar()->isVisible());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(fullScreen.button()->isVisible());
    EXPECT_EQ(fullScreen.button()->x(), window.width() - 70);

    // The button is the way back; a widget hidden before stays hidden.
    QTest::mouseClick(fullScreen.button(), Qt::LeftButton);
    EXPECT_FALSE(fullScreen.active());
    EXPECT_FALSE(window.windowState() & Qt::WindowFullScreen);
    EXPECT_TRUE(window.menuBar()->isVisible());
    EXPECT_TRUE(window.statusBar()->isVisible());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(hiddenBefore->isVisible());
    EXPECT_FALSE(fullScreen.button()->isVisible());
}

}  // namespace
}  // namespace pimo::ui
