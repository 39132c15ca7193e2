// The options dialog: filled from the options, handing back what it edits.

#include "ui/options_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSpinBox>

namespace pimo::ui {
namespace {

engine::ProgramOptions SomeOptions() {
    engine::ProgramOptions options;
    options.SaveSettingsOnExit = false;
    options.ShowCaptions = true;
    options.AskToResizeLargeImages = true;
    options.LargeImagesResolution = 7;
    options.ZoomFactor = 1.05f;
    options.AutoRotateEXIF = true;
    options.Check4Updates = false;
    options.LastUpdateCheck = 46001.0;
    options.SaveAsFolder = "/pictures/";
    options.ShowDialogOnSave = true;
    options.PNGSaveBestCompressionState = true;
    options.PNGSaveApplyOptimizerState = false;
    return options;
}

TEST(OptionsDialogTest, ConfirmingUntouchedChangesNothing) {
    const engine::ProgramOptions options = SomeOptions();
    const Toptions dialog(options);
    const engine::ProgramOptions after = dialog.applied(options);
    EXPECT_EQ(after.SaveSettingsOnExit, options.SaveSettingsOnExit);
    EXPECT_EQ(after.ShowCaptions, options.ShowCaptions);
    EXPECT_EQ(after.AskToResizeLargeImages, options.AskToResizeLargeImages);
    EXPECT_EQ(after.LargeImagesResolution, 7);
    EXPECT_EQ(after.ZoomFactor, 1.05f);  // a 5 % step stays 5 %
    EXPECT_EQ(after.AutoRotateEXIF, options.AutoRotateEXIF);
    EXPECT_EQ(after.Check4Updates, options.Check4Updates);
    EXPECT_EQ(after.LastUpdateCheck, options.LastUpdateCheck);
    EXPECT_EQ(after.SaveAsFolder, options.SaveAsFolder);
    EXPECT_EQ(after.ShowDialogOnSave, options.ShowDialogOnSave);
    EXPECT_EQ(after.PNGSaveBestCompressionState, options.PNGSaveBestCompressionState);
    EXPECT_EQ(after.PNGSaveApplyOptimizerState, options.PNGSaveApplyOptimizerState);
}

TEST(OptionsDialogTest, EveryControlReachesItsOption) {
    const engine::ProgramOptions options = SomeOptions();
    Toptions dialog(options);
    dialog.findChild<QCheckBox*>("save_settings_exit")->setChecked(true);
    dialog.findChild<QCheckBox*>("show_captions")->setChecked(false);
    dialog.findChild<QSpinBox*>("resize_large_img_spin")->setValue(12);
    dialog.findChild<QSpinBox*>("zoom_factor")->setValue(35);
    dialog.findChild<QCheckBox*>("auto_rotate_EXIF")->setChecked(false);
    dialog.findChild<QCheckBox*>("check4updates")->setChecked(true);
    dialog.findChild<QCheckBox*>("show_dialog_on_save")->setChecked(false);
    dialog.findChild<QCheckBox*>("png_save_best_compression")->setChecked(false);
    dialog.findChild<QCheckBox*>("png_save_apply_optimizer")->setChecked(true);
    const engine::ProgramOptions after = dialog.applied(options);
    EXPECT_TRUE(after.SaveSettingsOnExit);
    EXPECT_FALSE(after.ShowCaptions);
    EXPECT_EQ(after.LargeImagesResolution, 12);
    EXPECT_EQ(after.ZoomFactor, 1.35f);
    EXPECT_FALSE(after.AutoRotateEXIF);
    EXPECT_TRUE(after.Check4Updates);
    EXPECT_FALSE(after.ShowDialogOnSave);
    EXPECT_FALSE(after.PNGSaveBestCompressionState);
    EXPECT_TRUE(after.PNGSaveApplyOptimizerState);
}

// The size spin edit works only while large images are to be resized, and
// shows the stored size only then.
TEST(OptionsDialogTest, ResizeSizeFollowsItsCheckBox) {
    engine::ProgramOptions options = SomeOptions();
    options.AskToResizeLargeImages = false;
    Toptions dialog(options);
    auto* ask = dialog.findChild<QCheckBox*>("resize_large_img");
    auto* size = dialog.findChild<QSpinBox*>("resize_large_img_spin");
    EXPECT_FALSE(size->isEnabled());
    EXPECT_EQ(size->value(), 1);
    ask->setChecked(true);
    EXPECT_TRUE(size->isEnabled());
    ask->setChecked(false);
    EXPECT_FALSE(size->isEnabled());
    EXPECT_FALSE(dialog.applied(options).AskToResizeLargeImages);
}

}  // namespace
}  // namespace pimo::ui
