// The adjustments page: each control moves its field and announces the
// change once, the labels follow, reset and apply-to-source, and a result
// made from the settings follows the controls.

#include "ui/adjustments_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <functional>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/source_adjustments.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::ui {
namespace {

using Settings = engine::OptimizationSettings;

class AdjustmentsPanelTest : public ::testing::Test {
  protected:
    AdjustmentsPanelTest()
        : panel(settings, remember),
          changes(&panel, &ImageAdjustTab::settingsChanged),
          applyRequests(&panel, &ImageAdjustTab::applyToSourceRequested) {}

    template <typename Widget>
    Widget* control(const char* name) {
        auto* widget = panel.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString label(const char* name) { return control<QLabel>(name)->text(); }

    Settings settings;
    bool remember = false;
    ImageAdjustTab panel;
    QSignalSpy changes;
    QSignalSpy applyRequests;
};

struct ControlCase {
    const char* name;
    const char* control;
    Qt::Key key;  // Key_unknown: a click on a check box
    std::function<int(const Settings&)> field;
    int expected;
    const char* labelName;
    QString labelText;
};

void PrintTo(const ControlCase& c, std::ostream* os) {
    *os << c.name;
}

class AdjustmentControlTest : public AdjustmentsPanelTest,
                              public ::testing::WithParamInterface<ControlCase> {};

TEST_P(AdjustmentControlTest, MovesItsFieldAndAnnouncesOnce) {
    const ControlCase& c = GetParam();
    if (c.key == Qt::Key_unknown) {
        control<QCheckBox>(c.control)->click();
    } else {
        QTest::keyClick(control<QSlider>(c.control), c.key);
    }
    EXPECT_EQ(c.field(settings), c.expected);
    EXPECT_EQ(changes.count(), 1);
    if (c.labelName) {
        EXPECT_EQ(label(c.labelName), c.labelText);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Controls, AdjustmentControlTest,
    ::testing::Values(
        ControlCase{"BrightnessStep", "brightness", Qt::Key_Right,
                    [](const Settings& s) { return s.AdjustBrightness; }, 1, "label_brightness",
                    "1"},
        ControlCase{"BrightnessPage", "brightness", Qt::Key_PageDown,
                    [](const Settings& s) { return s.AdjustBrightness; }, -5, "label_brightness",
                    "-5"},
        ControlCase{"ContrastPage", "contrast", Qt::Key_PageUp,
                    [](const Settings& s) { return s.AdjustContrast; }, 5, "label_contrast", "5"},
        ControlCase{"GammaStep", "gamma", Qt::Key_Left,
                    [](const Settings& s) { return s.AdjustGamma; }, 95, "label_gamma", "0.95"},
        ControlCase{"GammaPage", "gamma", Qt::Key_PageUp,
                    [](const Settings& s) { return s.AdjustGamma; }, 200, "label_gamma", "2.00"},
        ControlCase{"Invert", "invert", Qt::Key_unknown,
                    [](const Settings& s) { return int(s.AdjustInvert); }, 1, nullptr, ""},
        ControlCase{"Grayscale", "grayscale", Qt::Key_unknown,
                    [](const Settings& s) { return int(s.AdjustGrayscale); }, 1, nullptr, ""}));

TEST_F(AdjustmentsPanelTest, GammaLabelShowsHundredthsInTheUsersNotation) {
    EXPECT_EQ(label("label_gamma"), "1") << "before the first change";
    const QLocale before;
    using Row = std::tuple<QLocale, int, QString>;
    for (const auto& [locale, position, text] :
         {Row{QLocale::c(), 1, "0.01"}, Row{QLocale::c(), 800, "8.00"},
          Row{QLocale(QLocale::German), 100, "1,00"}}) {
        QLocale::setDefault(locale);
        control<QSlider>("gamma")->setValue(position == 100 ? 150 : 100);
        control<QSlider>("gamma")->setValue(position);
        EXPECT_EQ(label("label_gamma"), text) << position;
    }
    QLocale::setDefault(before);
}

TEST_F(AdjustmentsPanelTest, DragCountsOnceWhenItEnds) {
    auto* gamma = control<QSlider>("gamma");
    gamma->setSliderDown(true);
    for (const int position : {120, 180, 240}) gamma->setSliderPosition(position);
    EXPECT_EQ(label("label_gamma"), "2.40") << "the label follows the drag";
    EXPECT_EQ(settings.AdjustGamma, 240);
    EXPECT_EQ(changes.count(), 0);
    gamma->setSliderDown(false);
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(AdjustmentsPanelTest, ResetNeutralisesAllButGrayscaleWithOneChange) {
    settings.AdjustBrightness = 30;
    settings.AdjustContrast = -40;
    settings.AdjustGamma = 250;
    settings.AdjustInvert = true;
    settings.AdjustGrayscale = true;
    panel.showSettings();
    EXPECT_EQ(changes.count(), 0) << "program updates are silent";
    EXPECT_EQ(label("label_contrast"), "-40");

    control<QPushButton>("Button2")->click();

    EXPECT_TRUE(settings.AdjustmentsNeutral());
    EXPECT_TRUE(settings.AdjustGrayscale);
    EXPECT_TRUE(control<QCheckBox>("grayscale")->isChecked());
    EXPECT_EQ(control<QSlider>("gamma")->value(), 100);
    EXPECT_EQ(label("label_gamma"), "1.00");
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(AdjustmentsPanelTest, ApplyIsAskedOnlyWhenSomethingWouldChange) {
    control<QCheckBox>("grayscale")->click();
    control<QPushButton>("Button1")->click();
    EXPECT_EQ(applyRequests.count(), 0) << "greyscale is never baked in";
    control<QCheckBox>("invert")->click();
    control<QPushButton>("Button1")->click();
    EXPECT_EQ(applyRequests.count(), 1);
}

TEST_F(AdjustmentsPanelTest, RememberBoxSetsTheOptionWithoutASettingsChange) {
    control<QCheckBox>("save_img_adjust")->click();
    EXPECT_TRUE(remember);
    EXPECT_EQ(changes.count(), 0);
    remember = false;
    panel.showSettings();
    EXPECT_FALSE(control<QCheckBox>("save_img_adjust")->isChecked());
}

// ---- with an engine ----

class AdjustmentsWithEngineTest : public ::testing::Test {
  protected:
    AdjustmentsWithEngineTest() {
        engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        engine.settings.Format = engine::kFormatPng;
        engine.settings.PNGPalettePreset = 0;
        engine.Interactive = false;
        const test::Bitmap source = test::MakePhotoLike(16, 12);
        test::WriteFileBytes(dir.file("source.png"),
                             test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
        EXPECT_TRUE(engine.LoadImageFile(dir.file("source.png")));
        // The window's reaction: a change makes a new result.
        QObject::connect(&panel, &ImageAdjustTab::settingsChanged, [this] { result = encode(); });
        QObject::connect(&panel, &ImageAdjustTab::applyToSourceRequested, [this] {
            engine::ApplyAdjustmentsToSource(engine);
            panel.showSettings();
        });
        result = encode();
    }
    test::Bytes encode() {
        engine.OptimizeImage("");
        return imagelib::StreamBytes(engine.ResultStream.get());
    }

    test::TempDir dir;
    test::FakeHost host;
    engine::Engine engine{host};
    bool remember = false;
    ImageAdjustTab panel{engine.settings, remember};
    test::Bytes result;
};

TEST_F(AdjustmentsWithEngineTest, EachControlChangesTheResult) {
    for (const char* name : {"brightness", "contrast", "gamma"}) {
        const test::Bytes before = result;
        QTest::keyClick(panel.findChild<QSlider*>(name), Qt::Key_PageUp);
        EXPECT_NE(result, before) << name;
    }
    for (const char* name : {"invert", "grayscale"}) {
        const test::Bytes before = result;
        panel.findChild<QCheckBox*>(name)->click();
        EXPECT_NE(result, before) << name;
    }
}

TEST_F(AdjustmentsWithEngineTest, ApplyToSourceLeavesNeutralControlsAndTheSameResult) {
    QTest::keyClick(panel.findChild<QSlider*>("brightness"), Qt::Key_PageUp);
    QTest::keyClick(panel.findChild<QSlider*>("gamma"), Qt::Key_PageUp);
    const test::Bytes adjusted = result;

    panel.findChild<QPushButton*>("Button1")->click();

    EXPECT_EQ(panel.findChild<QSlider*>("brightness")->value(), 0);
    EXPECT_EQ(panel.findChild<QSlider*>("gamma")->value(), 100);
    EXPECT_EQ(panel.findChild<QLabel*>("label_gamma")->text(), "1.00");
    EXPECT_EQ(encode(), adjusted) << "the adjusted source with neutral adjustments";
    panel.findChild<QPushButton*>("Button2")->click();
    EXPECT_EQ(result, adjusted) << "a reset afterwards changes nothing";
}

}  // namespace
}  // namespace pimo::ui
