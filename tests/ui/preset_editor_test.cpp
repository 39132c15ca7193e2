// The optimizer group and its preset editor: the editor's checks in their
// order with their texts, adding, changing and removing custom presets in
// the list and the external-tools file, and running a tool on demand.

#include "ui/preset_editor.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QToolButton>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "optimizers/optimizer_runner.h"
#include "settings/ini_store.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"
#include "tests/ui/ui_helpers.h"
#include "ui/optimizer_group.h"

namespace pimo::ui {
namespace {

using optimizers::TOptimizationTool;

class PresetEditorTest : public ::testing::Test {
  protected:
    PresetEditorTest() {
        toolFile = dir.file("mytool");
        test::WriteFileBytes(toolFile, {'#', '!'});
        externalTools.Open(toolsIni());
        externalTools.SetText("[Kept]\nFileName=" + toolFile + "\nParams=-x {IMAGE_FILE}\n");
        presets = optimizers::SetUpOptimizerPresets(externalTools, settingsFile, engine.settings);
        runner.temporaryFolder = dir.path();
    }
    std::filesystem::path toolsIni() const { return dir.path() / "Pimo-external-tools.ini"; }

    template <typename Widget>
    Widget* control(QWidget* parent, const char* name) {
        auto* widget = parent->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* list() { return control<QComboBox>(&group, "png_optimizer"); }
    QToolButton* button(const char* name) { return control<QToolButton>(&group, name); }
    QStringList items() {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i) texts << list()->itemText(i);
        return texts;
    }
    static void fill(Tform_add_png_optimizer* editor, const std::string& name,
                     const std::string& path, const std::string& params) {
        editor->findChild<QLineEdit*>("tool_name")->setText(QString::fromStdString(name));
        editor->findChild<QLineEdit*>("tool_path")->setText(QString::fromStdString(path));
        editor->findChild<QLineEdit*>("parameters")->setText(QString::fromStdString(params));
    }
    /// The next editor gets these entries and is accepted.
    void acceptNextEditor(const std::string& name, const std::string& path,
                          const std::string& params) {
        test::WhenShown<Tform_add_png_optimizer>([=](Tform_add_png_optimizer* editor) {
            fill(editor, name, path, params);
            editor->findChild<QPushButton*>("Button2")->click();
        });
    }

    test::TempDir dir;
    std::string toolFile;
    settings::IniStore externalTools;
    settings::IniStore settingsFile;
    test::FakeHost host;
    engine::Engine engine{host};
    optimizers::OptimizerPresets presets;
    OptimizerPresetModel model{presets};
    optimizers::OptimizerRunner runner{presets, dir.path()};
    PngOptimizerGroup group{engine, model, externalTools, runner};
    QSignalSpy changes{&group, &PngOptimizerGroup::settingsChanged};
};

TEST_F(PresetEditorTest, ListShowsInternalThenStoredPresets) {
    EXPECT_EQ(items(), (QStringList{"AdvPNG insane (fast)", "OptiPNG o3",
                                    "PNGout Xtreme (very slow)", "Kept"}));
    EXPECT_EQ(list()->currentIndex(), 0);
    EXPECT_FALSE(button("btn_remove_png_optimizer")->isEnabled());
    EXPECT_FALSE(button("btn_configure_png_optimizer")->isEnabled());
    EXPECT_TRUE(button("btn_add_png_optimizer")->isEnabled());
}

struct CheckCase {
    const char* name;
    const char* toolName;
    bool existingPath;  // false: a path where nothing is
    const char* params;
    const char* error;  // nullptr: accepted
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

class EditorCheckTest : public PresetEditorTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(EditorCheckTest, FirstFailingCheckShowsItsText) {
    const CheckCase& c = GetParam();
    Tform_add_png_optimizer editor(model, externalTools);
    editor.show();
    fill(&editor, c.toolName, c.existingPath ? toolFile : dir.file("nothing-here"), c.params);
    const std::string storeBefore = externalTools.Text();
    std::vector<std::string> texts;
    if (c.error) test::AnswerNextMessage(QMessageBox::Ok, texts);

    editor.findChild<QPushButton*>("Button2")->click();

    if (c.error) {
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].substr(0, std::string(c.error).size()), c.error);
        EXPECT_TRUE(editor.isVisible()) << "the dialog stays open";
        EXPECT_EQ(editor.findChild<QLineEdit*>("tool_name")->text(), c.toolName);
        EXPECT_EQ(model.rowCount(), 4);
        EXPECT_EQ(externalTools.Text(), storeBefore);
    } else {
        EXPECT_EQ(editor.result(), QDialog::Accepted);
        EXPECT_EQ(model.rowCount(), 5);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, EditorCheckTest,
    ::testing::Values(
        // An empty name is reported before the path is looked at.
        CheckCase{"EmptyName", "", false, "{IMAGE_FILE}", kFieldsMissingText},
        // A missing file is reported before the parameters are checked.
        CheckCase{"MissingFile", "New", false, "-o {image_file}", kFileMissingText},
        CheckCase{"LowerCasePlaceholder", "New", true, "-o {image_file}", kParametersInvalidText},
        CheckCase{"NoPlaceholder", "New", true, "", kParametersInvalidText},
        CheckCase{"InternalName", "OptiPNG o3", true, "{IMAGE_FILE}", kNameTakenText},
        CheckCase{"CustomName", "Kept", true, "{IMAGE_FILE}", kNameTakenText},
        // Two custom names in one letter case would share one section of the file.
        CheckCase{"CustomNameOtherCase", "KEPT", true, "{IMAGE_FILE}", kNameTakenText},
        CheckCase{"InternalNameOtherCase", "optipng O3", true, "{IMAGE_FILE}", nullptr},
        CheckCase{"NameTheFileCannotHold", " Padded", true, "{IMAGE_FILE}",
                  "The section name \" Padded\""},
        CheckCase{"Valid", "New", true, "-o2 {IMAGE_FILE}", nullptr}));

TEST_F(PresetEditorTest, EmptyPathIsReportedAsMissingField) {
    Tform_add_png_optimizer editor(model, externalTools);
    editor.show();
    fill(&editor, "New", "", "{IMAGE_FILE}");
    std::vector<std::string> texts;
    test::AnswerNextMessage(QMessageBox::Ok, texts);
    editor.findChild<QPushButton*>("Button2")->click();
    EXPECT_EQ(texts, std::vector<std::string>{kFieldsMissingText});
}

TEST_F(PresetEditorTest, AddingSelectsTheNewPresetAndWritesTheFile) {
    acceptNextEditor("Mine", toolFile, "-z {IMAGE_FILE}");
    button("btn_add_png_optimizer")->click();

    EXPECT_EQ(items().last(), "Mine");
    EXPECT_EQ(list()->currentIndex(), 4);
    EXPECT_EQ(engine.settings.PNGOptimizer, 4);
    EXPECT_TRUE(button("btn_remove_png_optimizer")->isEnabled());
    EXPECT_TRUE(button("btn_configure_png_optimizer")->isEnabled());
    EXPECT_EQ(presets.tools().At(4), (TOptimizationTool{"Mine", toolFile, "-z {IMAGE_FILE}", ""}));

    // The file, written as the window writes it when it closes, gives the
    // preset back at the next start.
    externalTools.UpdateFile();
    settings::IniStore reread;
    reread.Open(toolsIni());
    EXPECT_EQ(reread.ReadSections(), (std::vector<std::string>{"Kept", "Mine"}));
    engine::OptimizationSettings settings;
    const optimizers::OptimizerPresets again =
        optimizers::SetUpOptimizerPresets(reread, settingsFile, settings);
    EXPECT_EQ(again.tools().At(4), presets.tools().At(4));
}

TEST_F(PresetEditorTest, CancelChangesNothing) {
    const std::string storeBefore = externalTools.Text();
    test::WhenShown<Tform_add_png_optimizer>([this](Tform_add_png_optimizer* editor) {
        fill(editor, "Mine", toolFile, "{IMAGE_FILE}");
        editor->findChild<QPushButton*>("Button3")->click();
    });
    button("btn_add_png_optimizer")->click();
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(list()->currentIndex(), 0);
    EXPECT_EQ(externalTools.Text(), storeBefore);
}

TEST_F(PresetEditorTest, RenamingMovesTheValuesToTheNewSection) {
    list()->setCurrentIndex(3);
    list()->activated(3);
    test::WhenShown<Tform_add_png_optimizer>([](Tform_add_png_optimizer* editor) {
        EXPECT_EQ(editor->findChild<QLineEdit*>("parameters")->text(), "-x {IMAGE_FILE}");
        EXPECT_TRUE(editor->EditMode);
        EXPECT_EQ(editor->EditIndex, 3);
        editor->findChild<QLineEdit*>("tool_name")->setText("Renamed");
        editor->findChild<QPushButton*>("Button2")->click();
    });
    button("btn_configure_png_optimizer")->click();

    EXPECT_EQ(items()[3], "Renamed");
    EXPECT_EQ(list()->currentIndex(), 3);
    EXPECT_EQ(externalTools.ReadSections(), std::vector<std::string>{"Renamed"});
    EXPECT_EQ(externalTools.ReadString("Renamed", "Params", ""), "-x {IMAGE_FILE}");

    // Editing without a new name is accepted: its own name is no duplicate.
    acceptNextEditor("Renamed", toolFile, "-y {IMAGE_FILE}");
    button("btn_configure_png_optimizer")->click();
    EXPECT_EQ(externalTools.ReadString("Renamed", "Params", ""), "-y {IMAGE_FILE}");
}

TEST_F(PresetEditorTest, RemovingAsksThenShiftsTheLaterPresets) {
    acceptNextEditor("Second", toolFile, "{IMAGE_FILE}");
    button("btn_add_png_optimizer")->click();
    list()->setCurrentIndex(3);
    list()->activated(3);

    std::vector<std::string> texts;
    test::AnswerNextMessage(QMessageBox::No, texts);
    button("btn_remove_png_optimizer")->click();
    EXPECT_EQ(texts, std::vector<std::string>{
                         "Are you sure you want to delete the custom tool preset named Kept ?"});
    EXPECT_EQ(model.rowCount(), 5);

    test::AnswerNextMessage(QMessageBox::Yes, texts);
    button("btn_remove_png_optimizer")->click();
    EXPECT_EQ(items().mid(3), QStringList{"Second"});
    EXPECT_EQ(presets.tools().At(3).Name, "Second");
    EXPECT_EQ(externalTools.ReadSections(), std::vector<std::string>{"Second"});
    EXPECT_EQ(list()->currentIndex(), 0);
    EXPECT_EQ(engine.settings.PNGOptimizer, 0);
    EXPECT_FALSE(button("btn_remove_png_optimizer")->isEnabled());
    EXPECT_FALSE(button("btn_configure_png_optimizer")->isEnabled());
}

TEST_F(PresetEditorTest, BrowsingFillsAnEmptyNameOnly) {
    for (const auto& [typed, expected] :
         {std::pair{QString(), QString("mytool")}, std::pair{QString("Typed"), QString("Typed")}}) {
        Tform_add_png_optimizer editor(model, externalTools);
        editor.show();
        editor.findChild<QLineEdit*>("tool_name")->setText(typed);
        test::WhenShown<QFileDialog>(
            [this](QFileDialog* files) {
                // As the user types it into the dialog's name field.
                files->findChild<QLineEdit*>("fileNameEdit")
                    ->setText(QString::fromStdString(toolFile));
                QMetaObject::invokeMethod(files, "accept");
            },
            "OpenDialog1");
        editor.findChild<QPushButton*>("Button1")->click();
        EXPECT_EQ(editor.findChild<QLineEdit*>("tool_path")->text().toStdString(), toolFile);
        EXPECT_EQ(editor.findChild<QLineEdit*>("tool_name")->text(), expected);
    }
}

TEST_F(PresetEditorTest, ApplyToggleAndToolChoiceAreSettingsChanges) {
    list()->activated(1);
    EXPECT_EQ(engine.settings.PNGOptimizer, 1);
    EXPECT_EQ(changes.count(), 0) << "a tool that is not applied changes no result";
    button("btn_apply_png_optimizer")->click();
    EXPECT_TRUE(engine.settings.PNGApplyOptimizer);
    EXPECT_EQ(changes.count(), 1);
    list()->activated(2);
    EXPECT_EQ(changes.count(), 2);

    engine.settings.PNGOptimizer = 3;
    engine.settings.PNGApplyOptimizer = false;
    group.showSettings();
    EXPECT_EQ(list()->currentIndex(), 3);
    EXPECT_FALSE(button("btn_apply_png_optimizer")->isChecked());
    EXPECT_TRUE(button("btn_remove_png_optimizer")->isEnabled());
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(PresetEditorTest, RunNowPassesAPngResultThroughTheTool) {
    if (QStandardPaths::findExecutable("optipng").isEmpty()) GTEST_SKIP() << "optipng missing";
    auto* start = button("btn_start_png_optimizer");
    EXPECT_FALSE(start->isEnabled()) << "no image";

    engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
    engine.settings.Format = engine::kFormatPng;
    engine.settings.PNGPalettePreset = 0;
    engine.settings.PNGCompressionType = 0;  // the fastest deflate leaves room
    engine.settings.PNGOptimizer = 1;        // OptiPNG o3
    group.showSettings();
    const test::Bitmap source = test::MakePhotoLike(64, 48);
    test::WriteFileBytes(dir.file("source.png"), test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
    ASSERT_TRUE(engine.LoadImageFile(dir.file("source.png")));
    engine.PreviewImage();
    const std::size_t encoded = imagelib::StreamBytes(engine.ResultStream.get()).size();
    ASSERT_GT(encoded, 0u);
    group.updateActions();
    ASSERT_TRUE(start->isEnabled());

    start->click();

    const test::Bytes optimized = imagelib::StreamBytes(engine.ResultStream.get());
    EXPECT_LT(optimized.size(), encoded);
    const test::Bitmap decoded = test::DecodeWithLibrary(FIF_PNG, optimized);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(test::PixelAt(decoded.get(), 5, 7).rgbGreen,
              test::PixelAt(source.get(), 5, 7).rgbGreen);

    engine.Interactive = false;
    group.updateActions();
    EXPECT_FALSE(start->isEnabled()) << "a batch run owns the engine";
    engine.Interactive = true;
    engine.settings.Format = engine::kFormatJpeg;
    group.updateActions();
    EXPECT_FALSE(start->isEnabled()) << "a PNG tool has nothing to do with a JPEG";
}

}  // namespace
}  // namespace pimo::ui
