// The batch window, offscreen: filling the list, the tasks and their keys,
// the resize controls, a run over real files, and the hand-over with the
// main window.

#include "ui/batch_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "settings/ini_store.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"
#include "tests/ui/ui_helpers.h"
#include "ui/main_window.h"

namespace pimo::ui {
namespace {

namespace fs = std::filesystem;

test::Bytes Jpeg(unsigned width, unsigned height, std::uint32_t seed) {
    const auto photo = test::MakePhotoLike(width, height, seed);
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), 95);
}

class BatchWindowTest : public ::testing::Test {
  protected:
    BatchWindowTest() : engine(host) {
        engine.Interactive = false;
        engine.settings.Mode =
            pimo::engine::OptimizationMode::Manual;  // the settings as they stand
        dialogs.askFolder = [this](const QString&, const QString&) { return folderChoice; };
        dialogs.askImageFiles = [this] { return fileChoice; };
    }

    // A folder of images, a text file, a hidden file and a subfolder.
    fs::path makeImageFolder() {
        const fs::path folder = dir.path() / "images";
        fs::create_directories(folder / "sub");
        test::WriteFileBytes(folder / "a.jpg", Jpeg(64, 48, 1));
        test::WriteFileBytes(folder / "b.jpg", Jpeg(80, 60, 2));
        test::WriteFileBytes(folder / "notes.txt", {'h', 'i'});
        test::WriteFileBytes(folder / ".hidden.jpg", Jpeg(16, 16, 3));
        test::WriteFileBytes(folder / "sub" / "c.jpg", Jpeg(32, 32, 4));
        return folder;
    }

    QString headerText(Tbatch& window) {
        return window.findChild<QTableView*>("ListView1")
            ->model()
            ->headerData(0, Qt::Horizontal, Qt::DisplayRole)
            .toString();
    }

    test::TempDir dir;
    test::FakeHost host;
    engine::Engine engine;
    settings::IniStore store;
    BatchDialogs dialogs;
    QString folderChoice;
    QStringList fileChoice;
    std::vector<std::string> messages;
};

TEST_F(BatchWindowTest, FoldersFillTheListAndTheCaptionCounts) {
    Tbatch window(engine, store, dialogs);
    auto* start = window.findChild<QPushButton*>("btn_start");
    EXPECT_FALSE(start->isEnabled());

    folderChoice = QString::fromStdString(makeImageFolder().string());
    window.findChild<QAction*>("add_folder")->trigger();
    ASSERT_EQ(window.items().size(), 2u);  // no text file, no hidden file, no subfolder
    EXPECT_EQ(headerText(window), "Filename [ 2 file(s) ]");
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(window.findChild<QAction*>("btn_remove_all")->isEnabled());

    window.findChild<QAction*>("add_folder")->trigger();  // twice: the duplicates stay for now
    EXPECT_EQ(window.items().size(), 4u);
    window.findChild<QAction*>("add_folder_recursive")->trigger();
    EXPECT_EQ(window.items().size(), 7u);
    EXPECT_TRUE(messages.empty());

    fs::create_directory(dir.path() / "empty");
    folderChoice = QString::fromStdString((dir.path() / "empty").string());
    test::AnswerNextMessage(QMessageBox::Ok, messages);
    window.findChild<QAction*>("add_folder")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("No additional files were added !"));

    window.findChild<QAction*>("btn_remove_all")->trigger();
    EXPECT_TRUE(window.items().empty());
    EXPECT_EQ(headerText(window), "Filename [ 0 file(s) ]");
    EXPECT_FALSE(start->isEnabled());
}

TEST_F(BatchWindowTest, AddedImagesSkipTheExtensionCheckAndSelectionGivesTheOutputFolder) {
    Tbatch window(engine, store, dialogs);
    const fs::path noExtension = dir.path() / "picture";
    test::WriteFileBytes(noExtension, Jpeg(8, 8, 1));
    fileChoice = {QString::fromStdString(noExtension.string()),
                  QString::fromStdString((dir.path() / "missing.jpg").string())};
    window.findChild<QAction*>("add_images")->trigger();
    ASSERT_EQ(window.items().size(), 1u);
    EXPECT_FALSE(window.AddFile(noExtension.string()));  // the file list's own check refuses it

    auto* list = window.findChild<QTableView*>("ListView1");
    auto* selectPath = window.findChild<QAction*>("ActionSelectPath");
    EXPECT_FALSE(selectPath->isEnabled());
    list->selectRow(0);
    EXPECT_TRUE(selectPath->isEnabled());
    selectPath->trigger();
    EXPECT_EQ(window.findChild<QLineEdit*>("output_path")->text().toStdString(),
              dir.path().string() + "/");
}

TEST_F(BatchWindowTest, TasksAreRememberedWhenTheyHaveWhatTheyNeed) {
    {
        Tbatch window(engine, store, dialogs);
        for (const char* task : {"task_0", "task_2", "task_3"})
            window.findChild<QAction*>(task)->trigger();
        EXPECT_TRUE(window.findChild<QWidget*>("CategoryPanelGroup1")->isVisibleTo(&window));
        window.findChild<QComboBox*>("rotate_angle")->setCurrentIndex(2);
        window.findChild<QLineEdit*>("resize_w")->setText("640");
        window.findChild<QLineEdit*>("compress2size_value")->setText("not a size");
        window.done(QDialog::Accepted);
    }
    EXPECT_TRUE(store.ReadBool("Batch", "TaskRotate", false));
    EXPECT_EQ(store.ReadInteger("Batch", "RotateAngle", -1), 2);
    EXPECT_TRUE(store.ReadBool("Batch", "TaskResize", false));
    EXPECT_EQ(store.ReadInteger("Batch", "ResizeWidth", -1), 640);
    EXPECT_FALSE(store.ReadBool("Batch", "TaskCompressToSize", true));
    EXPECT_FALSE(store.ReadBool("Batch", "TaskFlip", true));

    Tbatch again(engine, store, dialogs);
    EXPECT_FALSE(again.findChild<QWidget*>("cat_rotate")->isHidden());
    EXPECT_FALSE(again.findChild<QWidget*>("cat_resize")->isHidden());
    EXPECT_TRUE(again.findChild<QWidget*>("cat_flip")->isHidden());
    EXPECT_TRUE(again.findChild<QWidget*>("cat_compress2size")->isHidden());
    EXPECT_TRUE(again.findChild<QAction*>("task_0")->isChecked());
    EXPECT_EQ(again.findChild<QComboBox*>("rotate_angle")->currentIndex(), 2);
    EXPECT_EQ(again.findChild<QLineEdit*>("resize_w")->text(), "640");

    again.findChild<QAction*>("clear_tasks")->trigger();
    EXPECT_TRUE(again.findChild<QWidget*>("cat_resize")->isHidden());
    EXPECT_FALSE(again.findChild<QAction*>("task_2")->isChecked());
    EXPECT_FALSE(again.findChild<QWidget*>("CategoryPanelGroup1")->isVisibleTo(&again));
}

TEST_F(BatchWindowTest, PercentWithKeptAspectMirrorsTheUsersTyping) {
    Tbatch window(engine, store, dialogs);
    window.ShowTask(2, true);
    window.show();
    auto* width = window.findChild<QLineEdit*>("resize_w");
    auto* height = window.findChild<QLineEdit*>("resize_h");
    auto* percent = window.findChild<QRadioButton*>("resize_opt_percent");
    auto* keepAspect = window.findChild<QCheckBox*>("keep_aspect");
    keepAspect->setChecked(true);

    percent->click();
    EXPECT_EQ(width->text(), "50");
    EXPECT_EQ(height->text(), "50");

    width->clear();  // set by the program: not mirrored
    EXPECT_EQ(height->text(), "50");
    QTest::keyClicks(width, "30");
    EXPECT_EQ(height->text(), "30");

    keepAspect->setChecked(false);
    QTest::keyClicks(height, "5");
    EXPECT_EQ(height->text(), "305");
    EXPECT_EQ(width->text(), "30");
}

// Two photographs and a damaged file: the photographs get smaller copies in
// the output folder, the damaged one is an error with its lines in the log.
// Before a run the window says what it will apply; with every task panel
// open the list still shows several rows.
TEST_F(BatchWindowTest, ShowsTheRunsSettingsAndRoomForTheList) {
    engine.settings.Mode = engine::OptimizationMode::Manual;
    engine.settings.Format = engine::kFormatJpeg;
    engine.settings.JPEGQuality = 60;
    Tbatch window(engine, store, dialogs);
    for (int task = 0; task < 4; ++task) window.ShowTask(task, true);
    window.show();
    const QString description = window.findChild<QLabel*>("run_description")->text();
    EXPECT_TRUE(description.startsWith("Output: JPEG, quality 60")) << description.toStdString();
    auto* list = window.findChild<QTableView*>("ListView1");
    EXPECT_GE(list->height(), 8 * list->verticalHeader()->defaultSectionSize());
}

TEST_F(BatchWindowTest, RunWritesOutputsAndShowsTheErrorLog) {
    const fs::path folder = makeImageFolder();
    test::WriteFileBytes(folder / "damaged.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F'});
    const fs::path output = dir.path() / "out";
    engine.settings.JPEGQuality = 60;

    Tbatch window(engine, store, dialogs);
    folderChoice = QString::fromStdString(folder.string());
    window.findChild<QAction*>("add_folder")->trigger();
    ASSERT_EQ(window.items().size(), 3u);
    window.findChild<QLineEdit*>("output_path")->setText(QString::fromStdString(output.string()));

    QString log;
    test::WhenShown<QDialog>(
        [&log](QDialog* dialog) {
            log = dialog->findChild<QPlainTextEdit*>()->toPlainText();
            dialog->accept();
        },
        "error_log");
    window.btn_startClick();

    ASSERT_EQ(window.items().size(), 3u);
    std::map<std::string, std::string> status;
    for (const batch::TBatchItem& item : window.items())
        status[fs::path(item.FilePath).filename().string()] = item.Status;
    EXPECT_TRUE(status["a.jpg"].ends_with("% decrease")) << status["a.jpg"];
    EXPECT_TRUE(status["b.jpg"].ends_with("% decrease")) << status["b.jpg"];
    EXPECT_EQ(status["damaged.jpg"], "error");
    EXPECT_TRUE(fs::exists(output / "a.jpg"));
    EXPECT_TRUE(fs::exists(output / "b.jpg"));
    EXPECT_FALSE(fs::exists(output / "damaged.jpg"));

    EXPECT_TRUE(
        log.contains("Source image: " + QString::fromStdString((folder / "damaged.jpg").string())))
        << log.toStdString();
    auto* model = window.findChild<QTableView*>("ListView1")->model();
    for (int row = 0; row < 3; ++row) {
        const QString text = model->index(row, 1).data().toString();
        const QColor colour = model->index(row, 1).data(Qt::ForegroundRole).value<QColor>();
        EXPECT_EQ(colour, text == "error" ? QColor(Qt::red) : QColor(0, 128, 0))
            << text.toStdString();
    }
    EXPECT_EQ(window.findChild<QPushButton*>("btn_start")->text(), "Start");
    EXPECT_EQ(window.findChild<QProgressBar*>("ProgressBar1")->value(), 0);
    // The bar is back at zero; the totals say what the run did.
    const QString summary = window.findChild<QLabel*>("run_summary")->text();
    EXPECT_TRUE(summary.startsWith("3 file(s) processed, 1 failed, 0 skipped;"))
        << summary.toStdString();
    EXPECT_TRUE(summary.endsWith("% saved")) << summary.toStdString();
    // Every status fits its column.
    auto* list = window.findChild<QTableView*>("ListView1");
    for (int row = 0; row < 3; ++row) {
        const QString text = model->index(row, 1).data().toString();
        EXPECT_LE(list->fontMetrics().horizontalAdvance(text) + 8, list->columnWidth(1))
            << text.toStdString();
    }
    EXPECT_FALSE(engine.SourceBitmap);
}

// ---- with the main window ----

class BatchModeTest : public ::testing::Test {
  protected:
    WindowEnvironment environment() {
        auto folders = std::make_shared<platform::FixedKnownFolders>();
        folders->executable = dir.path() / "program";
        folders->localAppData = dir.path() / "appdata";
        WindowEnvironment environment;
        environment.folders = folders;
        environment.fetchText = [](const std::string&, std::stop_token) {
            return platform::FetchedText{"", "offline"};
        };
        environment.openUrl = [](const std::string&) {};
        environment.now = [] { return 46000.0; };
        return environment;
    }
    std::string photo(const char* name) {
        test::WriteFileBytes(dir.path() / name, Jpeg(64, 48, 7));
        return (dir.path() / name).string();
    }

    test::TempDir dir;
    std::vector<std::string> messages;
};

TEST_F(BatchModeTest, EnteringAsksBeforeUnloadingAndClosingGivesTheWindowBack) {
    TForm1 window({QString::fromStdString(photo("a.jpg"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    window.show();
    ASSERT_TRUE(started.wait(5000));
    ASSERT_TRUE(window.engine().SourceBitmap);

    test::AnswerNextMessage(QMessageBox::No, messages);
    EXPECT_FALSE(window.EnterBatchMode());
    EXPECT_TRUE(window.engine().SourceBitmap);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0],
              "To use the Batch Optimizer I need to unload the current image\nProceed ?");

    test::AnswerNextMessage(QMessageBox::Yes, messages);
    ASSERT_TRUE(window.EnterBatchMode());
    EXPECT_FALSE(window.engine().SourceBitmap);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.engine().Interactive);

    window.batchWindow()->done(QDialog::Rejected);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.engine().Interactive);
}

TEST_F(BatchModeTest, SeveralFilesOnTheCommandLineGoToTheBatchWindow) {
    TForm1 window({QString::fromStdString(photo("a.jpg")),
                   QString::fromStdString((dir.path() / "missing.jpg").string())},
                  environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    window.show();
    ASSERT_TRUE(started.wait(5000));
    ASSERT_NE(window.batchWindow(), nullptr);
    EXPECT_EQ(window.batchWindow()->items().size(), 1u);
    EXPECT_TRUE(window.batchWindow()->isVisible());
    EXPECT_FALSE(window.isVisible());
}

TEST_F(BatchModeTest, SeveralMissingFilesLeaveTheMainWindowShown) {
    TForm1 window({QString::fromStdString((dir.path() / "x.jpg").string()),
                   QString::fromStdString((dir.path() / "y.jpg").string())},
                  environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    window.show();
    ASSERT_TRUE(started.wait(5000));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.engine().Interactive);
}

}  // namespace
}  // namespace pimo::ui
