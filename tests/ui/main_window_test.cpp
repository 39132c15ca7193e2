// The main window, offscreen: a control changes the settings and the result follows.

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "tests/support/test_images.h"
#include "ui/main_window.h"

namespace pimo::ui {
namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto bitmap = test::MakePhotoLike(320, 240);
        test::WriteFileBytes(m_dir.path() / "photo.png", test::EncodeWithLibrary(FIF_PNG, bitmap.get(), 0));
    }
    test::TempDir m_dir;
};

TEST_F(MainWindowTest, OpensCommandLineFileAndQualityDrivesTheResult) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))});
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));

    EXPECT_EQ(window.windowTitle(), "photo.png - 320x240 px @ 24bit PNG");
    auto* sizeLabel = window.findChild<QLabel*>("dim_img_optimizata");
    ASSERT_NE(sizeLabel, nullptr);
    const QString sizeAt75 = sizeLabel->toolTip();
    EXPECT_TRUE(sizeAt75.endsWith(" bytes"));
    const auto bytesAt75 = window.engine().ResultStream ? imagelib::StreamBytes(window.engine().ResultStream.get()).size() : 0;
    EXPECT_GT(bytesAt75, 0u);

    auto* quality = window.findChild<QSpinBox*>("jpeg_calitate");
    ASSERT_NE(quality, nullptr);
    quality->setValue(20);
    EXPECT_EQ(window.engine().settings.JPEGQuality, 20);
    EXPECT_EQ(window.findChild<QSlider*>("jpeg_qscroll")->value(), 20);
    const auto bytesAt20 = imagelib::StreamBytes(window.engine().ResultStream.get()).size();
    EXPECT_LT(bytesAt20, bytesAt75);
    EXPECT_NE(sizeLabel->toolTip(), sizeAt75);
}

TEST_F(MainWindowTest, StartsWithoutImageWhenArgumentIsMissing) {
    TForm1 window({QString::fromStdString(m_dir.file("missing.png"))});
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(window.windowTitle(), "PIMO - No image loaded");
    EXPECT_FALSE(window.engine().SourceBitmap);
}

}  // namespace
}  // namespace pimo::ui

int main(int argc, char** argv) {
    // The window tests need no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
