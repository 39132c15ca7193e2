// The format panel: typed numbers, palette presets, format tabs with the
// transparency and metadata choices that follow them.

#include "ui/format_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"
#include "tests/ui/ui_helpers.h"

namespace pimo::ui {
namespace {

class FormatPanelTest : public ::testing::Test {
  protected:
    FormatPanelTest()
        : engine(host), panel(engine), changes(&panel, &FormatPanel::settingsChanged) {}

    void type(const char* name, const QString& text) {
        auto* edit = panel.findChild<QLineEdit*>(name);
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    template <typename Widget>
    Widget* control(const char* name) {
        auto* widget = panel.findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool tabShown(const char* page) {
        auto* pages = control<QTabWidget>("PageControl1");
        return pages->isTabVisible(pages->indexOf(control<QWidget>(page)));
    }
    void chooseFormat(int format) { control<QTabBar>("FileTypeTabs")->setCurrentIndex(format); }

    test::FakeHost host;
    engine::Engine engine;
    FormatPanel panel;
    QSignalSpy changes;
    std::vector<std::string> messages;
};

TEST_F(FormatPanelTest, TypedQualityOutsideItsRangeIsRefused) {
    type("jpeg_calitate", "150");
    EXPECT_EQ(engine.settings.JPEGQuality, 75);
    EXPECT_EQ(control<QLineEdit>("jpeg_calitate")->text(), "75");
    type("jpeg_calitate", "0");
    EXPECT_EQ(engine.settings.JPEGQuality, 75);
    EXPECT_EQ(changes.count(), 0);

    type("jpeg_calitate", " 1 ");
    EXPECT_EQ(engine.settings.JPEGQuality, 1);
    EXPECT_EQ(control<QSlider>("jpeg_qscroll")->value(), 1);
    EXPECT_EQ(changes.count(), 1);

    test::AnswerNextMessage(QMessageBox::Ok, messages);
    type("jpeg_calitate", "");
    EXPECT_EQ(messages, std::vector<std::string>{"'' is not a valid integer value"});
    EXPECT_EQ(engine.settings.JPEGQuality, 1);
}

TEST_F(FormatPanelTest, ColourCountsStopAtTheImagesColours) {
    engine.settings.SetColorCountMaximum(40);
    panel.showSettings();
    type("gif_colorcount", "200");  // in 2..256: accepted, then held at 40
    EXPECT_EQ(engine.settings.GIFMaxColors, 40);
    EXPECT_EQ(control<QSlider>("gif_maxcolors")->value(), 40);
    EXPECT_EQ(control<QLineEdit>("gif_colorcount")->text(), "40");
    type("gif_colorcount", "1");
    EXPECT_EQ(engine.settings.GIFMaxColors, 40);
}

TEST_F(FormatPanelTest, PalettePresetsSetOrFreeTheColourCount) {
    engine.SourceBitmap.reset(test::MakePhotoLike(8, 8).release());
    auto* preset = control<QComboBox>("png_preset");
    auto* colours = control<QSlider>("png_maxcolors");

    preset->setCurrentIndex(3);  // "Optimal 16 Colors Palette"
    emit preset->activated(3);
    EXPECT_EQ(engine.settings.PNGPalettePreset, 3);
    EXPECT_TRUE(colours->isEnabled());
    EXPECT_EQ(engine.settings.PNGMaxColors, 16);
    EXPECT_EQ(control<QLineEdit>("png_colorcount")->text(), "16");
    EXPECT_EQ(changes.count(), 1);

    preset->setCurrentIndex(0);  // true colour
    emit preset->activated(0);
    EXPECT_FALSE(colours->isEnabled());
    EXPECT_FALSE(control<QLineEdit>("png_colorcount")->isEnabled());
    EXPECT_EQ(engine.settings.PNGMaxColors, 16);
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(FormatPanelTest, FormatTabsChooseThePagesAndTheTransparencyChoices) {
    auto* keep = control<QRadioButton>("keep_transparency");
    auto* solid = control<QRadioButton>("solid_color");
    EXPECT_TRUE(tabShown("JpegOptionsTab"));
    EXPECT_FALSE(tabShown("PngOptionsTab"));
    EXPECT_FALSE(keep->isEnabled());

    chooseFormat(engine::kFormatPng);
    EXPECT_EQ(engine.settings.Format, engine::kFormatPng);
    EXPECT_TRUE(tabShown("PngOptionsTab"));
    EXPECT_FALSE(tabShown("JpegOptionsTab"));
    EXPECT_FALSE(tabShown("GifOptionsTab"));
    EXPECT_TRUE(keep->isEnabled());
    EXPECT_EQ(changes.count(), 1);

    keep->click();
    EXPECT_EQ(engine.settings.TransparencyMode, engine::TransparencyMode::Keep);
    EXPECT_FALSE(control<QPushButton>("ColorBox1")->isEnabled());  // keeping needs no colour

    chooseFormat(engine::kFormatJpeg);
    EXPECT_EQ(engine.settings.TransparencyMode, engine::TransparencyMode::SolidColor);
    EXPECT_TRUE(solid->isChecked());
    EXPECT_FALSE(keep->isEnabled());
    EXPECT_FALSE(control<QSlider>("transp_threshold")->isEnabled());

    chooseFormat(engine::kFormatGif);  // keep is offered again, solid stays chosen
    EXPECT_TRUE(keep->isEnabled());
    EXPECT_TRUE(solid->isChecked());
    EXPECT_TRUE(tabShown("GifOptionsTab"));

    // Settings read as JPEG with transparency kept: JPEG cannot keep it.
    engine.settings.Format = engine::kFormatJpeg;
    engine.settings.TransparencyMode = engine::TransparencyMode::Keep;
    panel.showSettings();
    EXPECT_EQ(engine.settings.TransparencyMode, engine::TransparencyMode::SolidColor);
    EXPECT_TRUE(solid->isChecked());
}

// The three quantizers of both palette pages write their method, and a
// stored method shows as its button.
TEST_F(FormatPanelTest, QuantizerChoicesWriteTheirMethod) {
    for (const char* group : {"png_quant_group", "gif_quant_group"}) {
        auto* dithered = panel.findChild<QRadioButton*>(QString(group) + "_2");
        ASSERT_NE(dithered, nullptr) << group;
        dithered->setEnabled(true);
        dithered->click();
    }
    EXPECT_EQ(engine.settings.PNGQuantizationMethod, 2);
    EXPECT_EQ(engine.settings.GIFQuantizationMethod, 2);
    engine.settings.PNGQuantizationMethod = 1;
    panel.showSettings();
    EXPECT_TRUE(panel.findChild<QRadioButton*>("png_quant_group_1")->isChecked());
}

TEST_F(FormatPanelTest, MetadataChoicesFollowTheSourceAndTheFormat) {
    imagelib::Bitmap plain(test::MakePhotoLike(8, 8).release());
    engine.SourceBitmap = std::move(plain);
    panel.sourceChanged();
    EXPECT_FALSE(tabShown("MetadataTab"));  // nothing to remove
    chooseFormat(engine::kFormatPng);
    EXPECT_FALSE(tabShown("MetadataTab"));

    imagelib::Bitmap tagged(test::MakePhotoLike(8, 8).release());
    const char comment[] = "made by hand";
    imagelib::SetMetadataTag(tagged.get(), FIMD_COMMENTS, "Comment", FIDT_ASCII, sizeof comment,
                             sizeof comment, comment);
    const std::uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
    imagelib::SetMetadataTag(tagged.get(), FIMD_EXIF_RAW, "ExifRaw", FIDT_BYTE, sizeof exif,
                             sizeof exif, exif);
    engine.SourceBitmap = std::move(tagged);
    panel.sourceChanged();
    EXPECT_TRUE(tabShown("MetadataTab"));
    EXPECT_TRUE(control<QCheckBox>("remove_comments")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("remove_exif")->isEnabled());  // PNG keeps no EXIF
    EXPECT_FALSE(control<QCheckBox>("remove_xmp")->isEnabled());   // none in the source
    chooseFormat(engine::kFormatJpeg);
    EXPECT_TRUE(control<QCheckBox>("remove_exif")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>("jpeg_remove_iptc")->isEnabled());
}

// The transparency page shows only for a transparent source; the indicator
// says whether the threshold decides, and the controls follow the mode.
TEST_F(FormatPanelTest, TransparencyPageFollowsTheSourceAndTheIndicator) {
    test::TempDir dir;
    engine.settings.Mode = engine::OptimizationMode::Manual;
    engine.options.AutomaticPreview = false;
    const auto opaque = test::MakePhotoLike(8, 8);
    test::WriteFileBytes(dir.path() / "opaque.png",
                         test::EncodeWithLibrary(FIF_PNG, opaque.get(), 0));
    ASSERT_TRUE(engine.LoadImageFile(dir.file("opaque.png")));
    panel.sourceChanged();
    EXPECT_FALSE(tabShown("MaskTab"));

    // Graded alpha from a real alpha channel.
    const auto graded = test::MakeRgba(8, 8, [](unsigned x, unsigned y) {
        return RGBQUAD{90, 60, 30, BYTE(x * 32 + y)};
    });
    test::WriteFileBytes(dir.path() / "alpha.png",
                         test::EncodeWithLibrary(FIF_PNG, graded.get(), 0));
    ASSERT_TRUE(engine.LoadImageFile(dir.file("alpha.png")));
    panel.sourceChanged();
    EXPECT_TRUE(tabShown("MaskTab"));

    auto* simplify = control<QCheckBox>("simplify_transparency");
    auto* threshold = control<QSlider>("transp_threshold");
    auto* colourBox = control<QPushButton>("ColorBox1");
    engine.settings.Format = engine::kFormatPng;
    engine.settings.PNGPalettePreset = 0;  // true colour: nothing to simplify
    engine.settings.TransparencyMode = engine::TransparencyMode::Keep;
    panel.showSettings();
    EXPECT_FALSE(simplify->isChecked());
    EXPECT_FALSE(threshold->isEnabled());

    engine.settings.PNGPalettePreset = 2;  // a palette: the threshold decides
    panel.showSettings();
    EXPECT_TRUE(simplify->isChecked());
    EXPECT_TRUE(threshold->isEnabled());
    EXPECT_FALSE(colourBox->isEnabled());

    control<QRadioButton>("solid_color")->click();
    EXPECT_FALSE(threshold->isEnabled());
    EXPECT_TRUE(colourBox->isEnabled());
    control<QRadioButton>("opaque")->click();
    EXPECT_FALSE(threshold->isEnabled());
    EXPECT_FALSE(colourBox->isEnabled());

    // The user cannot tick the indicator.
    QTest::mouseClick(simplify, Qt::LeftButton);
    EXPECT_TRUE(simplify->isChecked());
}

}  // namespace
}  // namespace pimo::ui
