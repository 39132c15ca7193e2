// The size-quality curve in the main window: opened from the View menu, it
// follows the image and the format, says so where no setting applies, and a
// click on a point sets that quality and brings its result.

#include "ui/quality_curve_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTest>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"
#include "ui/main_window.h"
#include "util/pimoutil.h"

namespace pimo::ui {
namespace {

class QualityCurveWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto photo = test::MakePhotoLike(200, 150, 3);
        test::WriteFileBytes(m_dir.path() / "photo.jpg",
                             test::EncodeWithLibrary(FIF_JPEG, photo.get(), 90));
        auto folders = std::make_shared<platform::FixedKnownFolders>();
        folders->executable = m_dir.path() / "program";
        folders->localAppData = m_dir.path() / "appdata";
        WindowEnvironment environment;
        environment.folders = folders;
        environment.webSite = "";  // no update check
        m_window = std::make_unique<TForm1>(
            QStringList{QString::fromStdString(m_dir.file("photo.jpg"))}, environment);
        QSignalSpy started(m_window.get(), &TForm1::startedUp);
        ASSERT_TRUE(started.wait(5000));
        ASSERT_TRUE(m_window->engine().SourceBitmap);
        ASSERT_EQ(m_window->engine().settings.Format, engine::kFormatJpeg);
    }

    // Opens the curve from the menu command.
    QualityCurveWindow* openCurve() {
        auto* command = m_window->findChild<QAction*>("quality_curve");
        EXPECT_NE(command, nullptr);
        if (!command) return nullptr;
        EXPECT_TRUE(command->isEnabled());
        command->trigger();
        auto* curve = m_window->findChild<QualityCurveWindow*>();
        EXPECT_NE(curve, nullptr);
        if (curve) {
            EXPECT_TRUE(curve->isVisible());
        }
        return curve;
    }

    template <typename Control>
    Control* control(const char* name) {
        auto* found = m_window->findChild<Control*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    test::TempDir m_dir;
    std::unique_ptr<TForm1> m_window;
};

TEST_F(QualityCurveWindowTest, ClickingAPointSetsTheQualityAndItsResultAppears) {
    QualityCurveWindow* curveWindow = openCurve();
    ASSERT_NE(curveWindow, nullptr);
    QualityCurveWidget* curve = curveWindow->curve();
    QTRY_VERIFY_WITH_TIMEOUT(!curve->points().empty(), 60000);
    engine::Engine& engine = m_window->engine();
    EXPECT_EQ(curve->currentValue(), engine.settings.JPEGQuality);

    // A point away from the current quality.
    const std::vector<engine::QualityProbe> points = curve->points();
    std::size_t index = 2;
    if (points[index].value == engine.settings.JPEGQuality) ++index;
    const engine::QualityProbe chosen = points[index];
    QTest::mouseClick(curve, Qt::LeftButton, {}, curve->sizeMarkerAt(index).toPoint());

    EXPECT_EQ(engine.settings.JPEGQuality, chosen.value);
    EXPECT_EQ(control<QSlider>("jpeg_qscroll")->value(), chosen.value);
    EXPECT_EQ(control<QLineEdit>("jpeg_calitate")->text(), QString::number(chosen.value));
    EXPECT_EQ(engine.settings.Mode, engine::OptimizationMode::Manual);
    // The new result is the one the curve measured, and the window shows its size.
    ASSERT_TRUE(engine.ResultStream);
    EXPECT_EQ(imagelib::StreamBytes(engine.ResultStream.get()).size(), chosen.bytes);
    EXPECT_EQ(control<QLabel>("dim_img_optimizata")->toolTip().toStdString(),
              util::FormatNumber(chosen.bytes) + " bytes");
    // The mark moves; the curve is not measured again for a change of the setting.
    EXPECT_EQ(curve->currentValue(), chosen.value);
    EXPECT_FALSE(curveWindow->sampler()->running());
    EXPECT_EQ(curve->points().size(), points.size());
}

TEST_F(QualityCurveWindowTest, FollowsTheFormatAndUnloadingClearsThePlot) {
    QualityCurveWindow* curveWindow = openCurve();
    ASSERT_NE(curveWindow, nullptr);
    QualityCurveWidget* curve = curveWindow->curve();
    QTRY_VERIFY_WITH_TIMEOUT(!curve->points().empty(), 60000);
    engine::Engine& engine = m_window->engine();

    // PNG in true colour: a sentence instead of a plot.
    control<QTabBar>("FileTypeTabs")->setCurrentIndex(engine::kFormatPng);
    auto* preset = control<QComboBox>("png_preset");
    preset->setCurrentIndex(0);
    emit preset->activated(0);
    ASSERT_EQ(engine::PngPresetKind(engine.settings.PNGPalettePreset),
              engine::PresetKind::TrueColor);
    EXPECT_TRUE(curve->points().empty());
    EXPECT_EQ(curve->message(), NoCurveReason(engine));
    EXPECT_TRUE(curve->message().contains("no quality setting"));

    // A palette: the colour count's curve.
    preset->setCurrentIndex(2);  // "Optimal 128 Colors Palette"
    emit preset->activated(2);
    QTRY_VERIFY_WITH_TIMEOUT(!curve->points().empty(), 60000);
    EXPECT_EQ(curve->points().front().value, 2);
    EXPECT_EQ(curve->currentValue(), 128);

    // Unloading while a new curve is being measured: the plot goes, and the
    // late result does not bring it back.
    curveWindow->findChild<QPushButton*>("quality_curve_recompute")->click();
    EXPECT_TRUE(curveWindow->sampler()->running());
    engine.UnloadImage();
    EXPECT_TRUE(curve->points().empty());
    EXPECT_EQ(curve->message(), NoCurveReason(engine));
    EXPECT_FALSE(control<QAction>("quality_curve")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!curveWindow->sampler()->running(), 60000);
    QCoreApplication::processEvents();
    EXPECT_TRUE(curve->points().empty());
}

}  // namespace
}  // namespace pimo::ui
