// The main window, offscreen: a control changes the settings and the result
// follows; settings survive a restart; the update check at start-up and on
// demand, against canned answers.

#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "engine/display_pixels.h"
#include "engine/imagelib/freeimage_ext.h"
#include "settings/ini_store.h"
#include "tests/support/test_images.h"
#include "tests/ui/ui_helpers.h"
#include "ui/image_view.h"
#include "ui/options_dialog.h"
#include "ui/result_scorer.h"
#include "ui/viewport_math.h"
#include "util/product.h"

namespace pimo::ui {
namespace {

// The web site the tests give the window (the build may have none).
constexpr const char* kTestSite = "https://pimo.example.org";

// What the window did with the world around it.
struct Surroundings {
    std::mutex mutex;
    std::vector<std::string> fetched;  // addresses asked for, from the check's thread
    std::vector<std::string> opened;   // addresses opened in the browser
    std::string answer = "0.6.2.0";    // the latest-version endpoint's answer
    double now = 46000.5;              // the clock, in days since 30 December 1899
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto bitmap = test::MakePhotoLike(320, 240);
        test::WriteFileBytes(m_dir.path() / "photo.png",
                             test::EncodeWithLibrary(FIF_PNG, bitmap.get(), 0));
        auto folders = std::make_shared<platform::FixedKnownFolders>();
        folders->executable = m_dir.path() / "program";
        folders->localAppData = m_dir.path() / "appdata";
        m_folders = folders;
    }

    // The settings files in the test's folder, the web and the clock faked.
    WindowEnvironment environment() {
        WindowEnvironment environment;
        environment.folders = m_folders;
        environment.fetchText = [this](const std::string& url, std::stop_token) {
            const std::lock_guard lock(m_world.mutex);
            m_world.fetched.push_back(url);
            return platform::FetchedText{m_world.answer, ""};
        };
        environment.openUrl = [this](const std::string& url) { m_world.opened.push_back(url); };
        environment.now = [this] { return m_world.now; };
        environment.webSite = kTestSite;
        environment.askText = [this](const std::string&, const std::string& prompt,
                                     const std::string&) -> std::optional<std::string> {
            m_prompts.push_back(prompt);
            return m_textAnswer;
        };
        environment.askSaveFileName = [this](const QString&, const QString& path,
                                             const QString& filter) {
            m_saveDialogs.push_back({path.toStdString(), filter.toStdString()});
            return m_saveChoice;
        };
        return environment;
    }

    std::size_t fetchCount() {
        const std::lock_guard lock(m_world.mutex);
        return m_world.fetched.size();
    }

    void answerNextMessage(QMessageBox::StandardButton button) {
        test::AnswerNextMessage(button, m_messages);
    }

    template <typename Dialog>
    void whenShown(std::function<void(Dialog*)> act) {
        test::WhenShown<Dialog>(std::move(act));
    }

    std::filesystem::path settingsFile() const {
        return m_dir.path() / "appdata" / "Pimo" / "Pimo.ini";
    }

    test::TempDir m_dir;
    std::shared_ptr<const platform::KnownFolders> m_folders;
    Surroundings m_world;
    std::vector<std::string> m_messages;
    struct SaveDialog {
        std::string path, filter;
    };
    std::vector<SaveDialog> m_saveDialogs;
    QString m_saveChoice;  // what the save dialog answers
    std::vector<std::string> m_prompts;
    std::optional<std::string> m_textAnswer;  // what a one-line question answers
};

// Types a number into a number edit and presses Enter, as a user does.
void TypeNumber(QWidget& window, const char* name, int value) {
    auto* edit = window.findChild<QLineEdit*>(name);
    ASSERT_NE(edit, nullptr) << name;
    edit->setText(QString::number(value));
    QTest::keyClick(edit, Qt::Key_Return);
}

test::Bytes FileStart(const std::filesystem::path& path, std::size_t count) {
    test::Bytes bytes = test::ReadFileBytes(path);
    bytes.resize(std::min(bytes.size(), count));
    return bytes;
}

TEST_F(MainWindowTest, OpensCommandLineFileAndQualityDrivesTheResult) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));

    EXPECT_EQ(window.windowTitle(), "photo.png - 320x240 px @ 24bit PNG");
    auto* sizeLabel = window.findChild<QLabel*>("dim_img_optimizata");
    ASSERT_NE(sizeLabel, nullptr);
    const QString sizeAt75 = sizeLabel->toolTip();
    EXPECT_TRUE(sizeAt75.endsWith(" bytes"));
    const auto bytesAt75 = window.engine().ResultStream
                               ? imagelib::StreamBytes(window.engine().ResultStream.get()).size()
                               : 0;
    EXPECT_GT(bytesAt75, 0u);

    TypeNumber(window, "jpeg_calitate", 20);
    EXPECT_EQ(window.engine().settings.JPEGQuality, 20);
    EXPECT_EQ(window.findChild<QSlider*>("jpeg_qscroll")->value(), 20);
    const auto bytesAt20 = imagelib::StreamBytes(window.engine().ResultStream.get()).size();
    EXPECT_LT(bytesAt20, bytesAt75);
    EXPECT_NE(sizeLabel->toolTip(), sizeAt75);
}

// A stored Optimal palette preset sets its colour count at start-up, as
// choosing it does.
TEST_F(MainWindowTest, StoredPalettePresetsSetTheirColourCounts) {
    std::filesystem::create_directories(settingsFile().parent_path());
    std::ofstream(settingsFile()) << "[PIMO]\nPNGPalettePreset=3\nGIFPalettePreset=1\n";
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(window.engine().settings.PNGPalettePreset, 3);  // "Optimal 16 Colors Palette"
    EXPECT_EQ(window.engine().settings.PNGMaxColors, 16);
    EXPECT_EQ(window.findChild<QLineEdit*>("png_colorcount")->text(), "16");
    EXPECT_EQ(window.engine().settings.GIFMaxColors, 128);  // "Optimal 128 Colors Palette"
}

TEST_F(MainWindowTest, StartsWithoutImageWhenArgumentIsMissing) {
    TForm1 window({QString::fromStdString(m_dir.file("missing.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(window.windowTitle(), "PIMO - No image loaded");
    EXPECT_FALSE(window.engine().SourceBitmap);
}

TEST_F(MainWindowTest, SettingsSurviveARestart) {
    {
        TForm1 window({}, environment());
        QSignalSpy started(&window, &TForm1::startedUp);
        ASSERT_TRUE(started.wait(5000));
        TypeNumber(window, "jpeg_calitate", 33);
        window.close();
    }
    ASSERT_TRUE(std::filesystem::exists(settingsFile()));
    settings::IniStore stored;
    stored.Open(settingsFile());
    EXPECT_EQ(stored.ReadInteger("PIMO", "JPEGQuality", 0), 33);

    TForm1 again({}, environment());
    QSignalSpy started(&again, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(again.engine().settings.JPEGQuality, 33);
    EXPECT_EQ(again.findChild<QSlider*>("jpeg_qscroll")->value(), 33);
    EXPECT_EQ(again.findChild<QLineEdit*>("jpeg_calitate")->text(), "33");
}

// A first start checks at once; the next start within 14 days does not; one
// 14 whole days later does. A newer version is offered and Yes opens the
// download page.
TEST_F(MainWindowTest, AutomaticUpdateCheckEveryFourteenDays) {
    m_world.answer = "0.6.10.0";
    {
        answerNextMessage(QMessageBox::Yes);
        TForm1 window({}, environment());
        QSignalSpy reported(&window, &TForm1::updateCheckReported);
        ASSERT_TRUE(reported.wait(5000));
        EXPECT_EQ(m_world.fetched, std::vector<std::string>{update::LatestVersionUrl(kTestSite)});
        EXPECT_EQ(m_messages, std::vector<std::string>{std::string(update::kNewerVersionQuestion)});
        EXPECT_EQ(m_world.opened, std::vector<std::string>{update::DownloadPageUrl(kTestSite)});
        EXPECT_DOUBLE_EQ(window.engine().options.LastUpdateCheck, m_world.now);
        window.close();
    }
    // The settings keep the day of the last check, without its time.
    const double firstCheckDay = 46000.0;
    for (const auto& [daysLater, checks] :
         {std::pair{13.0 + 23.0 / 24, false}, std::pair{14.0, true}}) {
        SCOPED_TRACE(daysLater);
        m_world.now = firstCheckDay + daysLater;
        m_world.answer = "0.6.2.0";  // nothing new: an automatic check says nothing
        const std::size_t before = fetchCount();
        TForm1 window({}, environment());
        QSignalSpy started(&window, &TForm1::startedUp);
        QSignalSpy reported(&window, &TForm1::updateCheckReported);
        ASSERT_TRUE(started.wait(5000));
        if (checks) {
            if (reported.isEmpty()) {
                ASSERT_TRUE(reported.wait(5000));
            }
            EXPECT_EQ(fetchCount(), before + 1);
            EXPECT_DOUBLE_EQ(window.engine().options.LastUpdateCheck, m_world.now);
        } else {
            EXPECT_DOUBLE_EQ(window.engine().options.LastUpdateCheck, firstCheckDay);
            EXPECT_FALSE(reported.wait(300));
            EXPECT_EQ(fetchCount(), before);
        }
        window.close();
    }
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(MainWindowTest, ManualUpdateCheckTellsTheLatestVersion) {
    m_world.now = 46000.0;
    {
        // The automatic check of the first start, with nothing to tell.
        TForm1 window({}, environment());
        QSignalSpy reported(&window, &TForm1::updateCheckReported);
        ASSERT_TRUE(reported.wait(5000));
        window.close();
    }
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    answerNextMessage(QMessageBox::Ok);
    QSignalSpy reported(&window, &TForm1::updateCheckReported);
    window.findChild<QAction*>("Checkforupdates1")->trigger();
    ASSERT_TRUE(reported.wait(5000));
    EXPECT_EQ(m_messages, std::vector<std::string>{std::string(update::kLatestVersionInUse)});
    EXPECT_EQ(fetchCount(), 2u);
    EXPECT_TRUE(m_world.opened.empty());
}

// The save dialog offers the output format's filter; a name without an
// extension gets the format's; the folder is remembered for the next time.
TEST_F(MainWindowTest, SaveAsWritesTheOutputFormatUnderItsExtension) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Format, engine::kFormatJpeg);  // a photograph

    std::filesystem::create_directory(m_dir.path() / "saved");
    m_saveChoice = QString::fromStdString(m_dir.file("saved/holiday"));
    window.findChild<QAction*>("save_as")->trigger();

    ASSERT_EQ(m_saveDialogs.size(), 1u);
    EXPECT_EQ(m_saveDialogs[0].filter, "JPEG Image (*.jpg *.jif *.jpeg *.jpe)");
    EXPECT_TRUE(m_saveDialogs[0].path.ends_with("/photo.jpg")) << m_saveDialogs[0].path;
    EXPECT_EQ(FileStart(m_dir.path() / "saved" / "holiday.jpg", 3),
              (test::Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_EQ(window.engine().options.SaveAsFolder, (m_dir.path() / "saved").string() + "/");
}

TEST_F(MainWindowTest, SaveAsOfAPngOffersAHigherCompressionFirst) {
    const auto graphic = test::MakeRgb(64, 48, [](unsigned x, unsigned y) {
        return RGBQUAD{static_cast<BYTE>(x < 32 ? 200 : 20), 90,
                       static_cast<BYTE>(y < 24 ? 10 : 240), 0};
    });
    const std::filesystem::path source = m_dir.path() / "graphic.png";
    test::WriteFileBytes(source, test::EncodeWithLibrary(FIF_PNG, graphic.get(), 0));
    TForm1 window({QString::fromStdString(source.string())}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Format, engine::kFormatPng);  // four colours
    window.engine().settings.PNGCompressionType = 1;                 // the user chose a low setting

    answerNextMessage(QMessageBox::Yes);
    m_saveChoice = QString::fromStdString(m_dir.file("smaller.png"));
    window.findChild<QAction*>("save_as")->trigger();

    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(m_messages[0].starts_with("It seems you have chosen a low compression setting"));
    EXPECT_EQ(window.engine().settings.PNGCompressionType, 2);
    ASSERT_EQ(m_saveDialogs.size(), 1u);
    EXPECT_EQ(m_saveDialogs[0].path, source.string());  // the format stays: the source's own path
    EXPECT_EQ(m_saveDialogs[0].filter, "Portable Network Graphic (*.png)");
    EXPECT_EQ(FileStart(m_dir.path() / "smaller.png", 4), (test::Bytes{0x89, 'P', 'N', 'G'}));
}

// Confirmed options are stored at once: with saving on exit turned off they
// are still on disk afterwards, while the format settings are not. Captions
// off take effect at once.
TEST_F(MainWindowTest, OptionsAreStoredAtOnce) {
    {
        TForm1 window({}, environment());
        QSignalSpy started(&window, &TForm1::startedUp);
        ASSERT_TRUE(started.wait(5000));
        whenShown<Toptions>([](Toptions* dialog) {
            dialog->findChild<QCheckBox*>("save_settings_exit")->setChecked(false);
            dialog->findChild<QCheckBox*>("show_captions")->setChecked(false);
            dialog->findChild<QCheckBox*>("auto_rotate_EXIF")->setChecked(true);
            dialog->findChild<QPushButton*>("Button1")->click();
        });
        window.findChild<QAction*>("Options1")->trigger();
        EXPECT_FALSE(window.engine().options.SaveSettingsOnExit);
        EXPECT_TRUE(window.engine().options.AutoRotateEXIF);
        auto* toolbar = window.findChild<QToolBar*>("ToolBar1");
        const QWidget* button = toolbar->widgetForAction(toolbar->actions().front());
        EXPECT_EQ(button->size(), QSize(32, 32));

        TypeNumber(window, "jpeg_calitate", 44);
        window.close();
    }
    settings::IniStore stored;
    stored.Open(settingsFile());
    EXPECT_FALSE(stored.ReadBool("PIMO", "SaveSettingsOnExit", true));
    EXPECT_FALSE(stored.ReadBool("PIMO", "ShowCaptions", true));
    EXPECT_TRUE(stored.ReadBool("PIMO", "AutoRotateEXIF", false));
    EXPECT_FALSE(stored.ValueExists("PIMO", "JPEGQuality"));

    TForm1 again({}, environment());  // captions stay off after a restart
    QSignalSpy started(&again, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    auto* toolbar = again.findChild<QToolBar*>("ToolBar1");
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

// photo.png saved as JPEG with Save: beside the source as photo.jpg; an
// existing photo.jpg is replaced after a question, without a dialog; then
// Save waits for a new result while Save As stays.
TEST_F(MainWindowTest, SaveWritesBesideTheSourceAndAsksBeforeReplacing) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Format, engine::kFormatJpeg);
    auto* save = window.findChild<QAction*>("Save");
    auto* saveAs = window.findChild<QAction*>("save_as");
    ASSERT_TRUE(save->isEnabled());

    // No photo.jpg yet: the dialog opens in the source's folder with that name.
    m_saveChoice.clear();  // cancelled
    save->trigger();
    ASSERT_EQ(m_saveDialogs.size(), 1u);
    EXPECT_EQ(m_saveDialogs[0].path, m_dir.file("photo.jpg"));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(save->isEnabled());  // a cancelled dialog changes nothing

    test::WriteFileBytes(m_dir.path() / "photo.jpg", {'o', 'l', 'd'});
    answerNextMessage(QMessageBox::Yes);
    save->trigger();
    EXPECT_EQ(m_messages, std::vector<std::string>{"Replace photo.jpg ?"});
    EXPECT_EQ(m_saveDialogs.size(), 1u);  // no dialog this time
    EXPECT_EQ(FileStart(m_dir.path() / "photo.jpg", 3), (test::Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(saveAs->isEnabled());
}

// A JPEG saved as JPEG with Save: the question names the source itself.
TEST_F(MainWindowTest, SaveOfTheSameFormatOffersTheSourceItself) {
    const auto photo = test::MakePhotoLike(160, 120);
    const std::string source = m_dir.file("holiday.jpg");
    test::WriteFileBytes(source, test::EncodeWithLibrary(FIF_JPEG, photo.get(), 98));
    TForm1 window({QString::fromStdString(source)}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Format, engine::kFormatJpeg);

    answerNextMessage(QMessageBox::No);
    m_saveChoice.clear();
    window.findChild<QAction*>("Save")->trigger();
    EXPECT_EQ(m_messages, std::vector<std::string>{"Replace " + source + " ?"});
    ASSERT_EQ(m_saveDialogs.size(), 1u);  // No: the dialog instead
    EXPECT_EQ(m_saveDialogs[0].path, source);
}

// One dropped file is opened; several go to the batch window, after asking
// to unload the image that is open. Nothing is asked while the drop itself
// runs, so the program the files came from is not held.
TEST_F(MainWindowTest, DroppedFilesOpenOrGoToTheBatchWindow) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    window.show();
    ASSERT_TRUE(started.wait(5000));
    const auto drop = [&](const std::vector<std::string>& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const std::string& path : paths)
            urls << QUrl::fromLocalFile(QString::fromStdString(path));
        data.setUrls(urls);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        const std::size_t asked = m_messages.size();
        const QString title = window.windowTitle();
        // Straight to the window's handler, as the drag and drop machinery calls it.
        static_cast<QObject&>(window).event(&event);
        EXPECT_TRUE(event.isAccepted());
        EXPECT_EQ(m_messages.size(), asked);
        EXPECT_EQ(window.windowTitle(), title);
        QCoreApplication::processEvents();
    };

    drop({m_dir.file("photo.png")});
    EXPECT_EQ(window.windowTitle(), "photo.png - 320x240 px @ 24bit PNG");

    const auto second = test::MakePhotoLike(40, 30);
    test::WriteFileBytes(m_dir.path() / "second.jpg",
                         test::EncodeWithLibrary(FIF_JPEG, second.get(), 90));
    answerNextMessage(QMessageBox::No);
    drop({m_dir.file("photo.png"), m_dir.file("second.jpg"), m_dir.file("notes.txt")});
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_TRUE(window.engine().SourceBitmap);
    EXPECT_EQ(window.batchWindow(), nullptr);

    answerNextMessage(QMessageBox::Yes);
    drop({m_dir.file("photo.png"), m_dir.file("second.jpg"), m_dir.file("notes.txt")});
    ASSERT_NE(window.batchWindow(), nullptr);
    EXPECT_EQ(window.batchWindow()->items().size(), 2u);  // not the text file
    EXPECT_TRUE(window.batchWindow()->isVisible());
    EXPECT_FALSE(window.isVisible());
}

std::size_t ResultBytes(TForm1& window) {
    return window.engine().ResultStream
               ? imagelib::StreamBytes(window.engine().ResultStream.get()).size()
               : 0;
}

// In an automatic mode a change by hand previews with the new value and then
// turns the mode to manual; choosing the automatic mode again chooses the
// settings again.
TEST_F(MainWindowTest, AHandMadeChangeTurnsTheModeToManual) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Mode, pimo::engine::OptimizationMode::FullAuto);
    const int automatic = window.engine().settings.JPEGQuality;
    auto* quality = window.findChild<QSlider*>("jpeg_qscroll");
    auto* mode = window.findChild<QToolButton*>("ModeButton");
    EXPECT_EQ(quality->value(), automatic);  // the controls show what was chosen
    const std::size_t before = ResultBytes(window);

    TypeNumber(window, "jpeg_calitate", automatic - 40);
    EXPECT_EQ(window.engine().settings.Mode, pimo::engine::OptimizationMode::Manual);
    EXPECT_EQ(mode->text(), "Manual");
    EXPECT_TRUE(window.findChild<QAction*>("Manual1")->isChecked());
    EXPECT_EQ(window.engine().settings.JPEGQuality, automatic - 40);
    EXPECT_LT(ResultBytes(window), before);

    window.findChild<QAction*>("FullAuto1")->trigger();
    EXPECT_EQ(window.engine().settings.Mode, pimo::engine::OptimizationMode::FullAuto);
    EXPECT_EQ(window.engine().settings.JPEGQuality, automatic);
    EXPECT_EQ(quality->value(), automatic);
    EXPECT_EQ(ResultBytes(window), before);
}

TEST_F(MainWindowTest, ChoosingAModeWithoutAnImageChangesOnlyTheMode) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    const engine::OptimizationSettings before = window.engine().settings;
    window.findChild<QAction*>("Autokeepformat1")->trigger();
    EXPECT_EQ(window.engine().settings.Mode, pimo::engine::OptimizationMode::AutoKeepFormat);
    EXPECT_EQ(window.engine().settings.JPEGQuality, before.JPEGQuality);
    EXPECT_EQ(window.engine().settings.Format, before.Format);
    EXPECT_EQ(window.findChild<QToolButton*>("ModeButton")->text(), "Automatic, keep format");
}

// Without automatic preview a change leaves the old result, marks it stale
// and disables saving until the preview command runs.
TEST_F(MainWindowTest, WithoutAutomaticPreviewTheResultWaitsForThePreviewCommand) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    auto* previewButton = window.findChild<QAction*>("preview_btn");
    EXPECT_FALSE(previewButton->isEnabled());
    window.findChild<QAction*>("automat")->trigger();
    EXPECT_FALSE(window.engine().options.AutomaticPreview);
    EXPECT_TRUE(previewButton->isEnabled());

    const std::size_t before = ResultBytes(window);
    TypeNumber(window, "jpeg_calitate", 15);
    EXPECT_TRUE(window.engine().ResultStale);
    EXPECT_EQ(ResultBytes(window), before);
    EXPECT_FALSE(window.findChild<QAction*>("save_as")->isEnabled());
    EXPECT_FALSE(window.findChild<QAction*>("Save")->isEnabled());

    window.findChild<QAction*>("action_preview")->trigger();
    EXPECT_FALSE(window.engine().ResultStale);
    EXPECT_LT(ResultBytes(window), before);
    EXPECT_TRUE(window.findChild<QAction*>("save_as")->isEnabled());
}

// Turning and mirroring need an image; a turn swaps the sides.
TEST_F(MainWindowTest, ImageCommandsTurnAndMirrorTheSource) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    for (const char* name : {"rotate_left", "rotate_right", "flip_horizontally", "flip_vertically",
                             "compress2size_btn"})
        EXPECT_FALSE(window.findChild<QAction*>(name)->isEnabled()) << name;

    ASSERT_TRUE(window.openFile(QString::fromStdString(m_dir.file("photo.png"))));
    const RGBQUAD corner = [&] {
        RGBQUAD pixel{};
        ::FreeImage_GetPixelColor(window.engine().SourceBitmap.get(), 0, 0, &pixel);
        return pixel;
    }();
    window.findChild<QAction*>("rotate_right")->trigger();
    EXPECT_EQ(::FreeImage_GetWidth(window.engine().SourceBitmap.get()), 240u);
    EXPECT_EQ(::FreeImage_GetHeight(window.engine().SourceBitmap.get()), 320u);
    window.findChild<QAction*>("rotate_left")->trigger();
    window.findChild<QAction*>("flip_horizontally")->trigger();
    window.findChild<QAction*>("flip_horizontally")->trigger();
    RGBQUAD again{};
    ::FreeImage_GetPixelColor(window.engine().SourceBitmap.get(), 0, 0, &again);
    EXPECT_EQ(std::tie(again.rgbRed, again.rgbGreen, again.rgbBlue),
              std::tie(corner.rgbRed, corner.rgbGreen, corner.rgbBlue));
    EXPECT_TRUE(window.findChild<QAction*>("Save")->isEnabled());
}

// Compress to size asks for the size and leaves the quality that meets it,
// in the settings and in the controls.
TEST_F(MainWindowTest, CompressToSizeFindsTheQuality) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    ASSERT_EQ(window.engine().settings.Format, engine::kFormatJpeg);
    const std::size_t before = ResultBytes(window);
    ASSERT_GT(before, 3 * 1024u);
    const int automatic = window.engine().settings.JPEGQuality;

    m_textAnswer = "3";
    window.findChild<QAction*>("compress2size_btn")->trigger();
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_LE(ResultBytes(window), 3 * 1024u);
    const int quality = window.engine().settings.JPEGQuality;
    EXPECT_LT(quality, automatic);
    EXPECT_EQ(window.findChild<QSlider*>("jpeg_qscroll")->value(), quality);
    EXPECT_EQ(window.findChild<QLineEdit*>("jpeg_calitate")->text(), QString::number(quality));
}

TEST_F(MainWindowTest, HelpCommandsOpenTheProductsPages) {
    TForm1 window({}, environment());
    for (const char* name : {"Help2", "Visitofficialwebsite1", "News1"})
        window.findChild<QAction*>(name)->trigger();
    const std::string site(kTestSite);
    EXPECT_EQ(m_world.opened, (std::vector<std::string>{site + "/docs", site, site + "/feed/"}));
}

// Without a web site the window checks nothing at start-up, offers no web
// links or update check, and its help is the documentation on this machine.
TEST_F(MainWindowTest, WithoutAWebSiteHelpIsTheLocalDocumentation) {
    WindowEnvironment local = environment();
    local.webSite = "";
    TForm1 window({}, local);
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    QTest::qWait(100);
    EXPECT_EQ(fetchCount(), 0u);  // a first start would check at once with a site
    for (const char* name : {"Visitofficialwebsite1", "News1", "Checkforupdates1"})
        EXPECT_EQ(window.findChild<QAction*>(name), nullptr) << name;
    window.findChild<QAction*>("Help2")->trigger();
    ASSERT_EQ(m_world.opened.size(), 1u);
    const QUrl opened(QString::fromStdString(m_world.opened[0]));
    EXPECT_TRUE(opened.isLocalFile());
    EXPECT_TRUE(QFileInfo::exists(opened.toLocalFile())) << m_world.opened[0];
    window.Checkforupdates1Click(true);
    QTest::qWait(100);
    EXPECT_EQ(fetchCount(), 0u);
}

// A picture smaller than the view opens at actual size while fitting only
// big pictures; the status bar says so.
TEST_F(MainWindowTest, SmallImageOpensAtActualSize) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    window.resize(1200, 900);
    window.show();
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    auto* view = window.findChild<ImageView*>("Panel4");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->fitOnlyBig());
    EXPECT_EQ(view->viewport().view.width, 320);
    EXPECT_EQ(view->viewport().view.height, 240);
}

// Yes to the large-image question shows the resample dialog; its size is
// the size the image is opened at.
TEST_F(MainWindowTest, LargeImageQuestionResamplesToTheEnteredSize) {
    auto big = test::MakePhotoLike(1200, 1000);
    test::WriteFileBytes(m_dir.path() / "big.png", test::EncodeWithLibrary(FIF_PNG, big.get(), 0));
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.engine().options.LargeImagesResolution = 1;
    std::vector<std::string> questions;
    test::AnswerNextMessage(QMessageBox::Yes, questions);
    test::WhenShown<QDialog>(
        [](QDialog* dialog) {
            auto* width = dialog->findChild<QLineEdit*>("resize_w");
            width->setText("600");
            dialog->findChild<QLineEdit*>("resize_h")->setText("500");
            dialog->accept();
        },
        "resample");
    ASSERT_TRUE(window.openFile(QString::fromStdString(m_dir.file("big.png"))));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(engine::DisplayFormatOf(window.engine().SourceBitmap.get()).width, 600);
    EXPECT_EQ(engine::DisplayFormatOf(window.engine().SourceBitmap.get()).height, 500);
}

// The keys of the image commands reach them.
// Paste takes the clipboard's PNG first, so a transparent image stays
// transparent; with no image on the clipboard the command is off and the
// image on display stays.
TEST_F(MainWindowTest, PasteTakesTheClipboardsPngAndNothingLeavesTheImage) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    auto* paste = window.findChild<QAction*>("Paste1");
    ASSERT_NE(paste, nullptr);

    const auto transparent = test::MakeRgba(12, 10, [](unsigned x, unsigned) {
        return RGBQUAD{40, 90, 200, BYTE(x < 6 ? 0 : 255)};
    });
    const test::Bytes png = test::EncodeWithLibrary(FIF_PNG, transparent.get(), 0);
    auto* offered = new QMimeData;
    offered->setData("image/png", QByteArray(reinterpret_cast<const char*>(png.data()),
                                             static_cast<qsizetype>(png.size())));
    offered->setImageData(QImage(12, 10, QImage::Format_RGB32));
    QApplication::clipboard()->setMimeData(offered);
    ASSERT_TRUE(paste->isEnabled());
    paste->trigger();
    ASSERT_TRUE(window.engine().SourceBitmap);
    EXPECT_EQ(window.engine().SourcePath, "Untitled");
    EXPECT_EQ(::FreeImage_GetBPP(window.engine().SourceBitmap.get()), 32u);
    EXPECT_TRUE(imagelib::FreeImage_IsTransparent(window.engine().SourceBitmap.get(), 1));

    // An image without PNG bytes comes in as an opaque pasted bitmap.
    QImage red(7, 5, QImage::Format_RGB32);
    red.fill(Qt::red);
    QApplication::clipboard()->setImage(red);
    paste->trigger();
    ASSERT_TRUE(window.engine().SourceBitmap);
    EXPECT_EQ(::FreeImage_GetWidth(window.engine().SourceBitmap.get()), 7u);
    RGBQUAD pixel{};
    ::FreeImage_GetPixelColor(window.engine().SourceBitmap.get(), 3, 2, &pixel);
    EXPECT_EQ(std::tie(pixel.rgbRed, pixel.rgbGreen, pixel.rgbBlue),
              std::make_tuple(BYTE(255), BYTE(0), BYTE(0)));

    QApplication::clipboard()->setText("no picture here");
    EXPECT_FALSE(paste->isEnabled());
    window.PasteFromClipboard();
    EXPECT_EQ(::FreeImage_GetWidth(window.engine().SourceBitmap.get()), 7u);
}

// While a long call runs, the commands, their keys, a click on a tool button
// and a request to close the window do nothing; calls nest; after the
// outermost call everything works again.
TEST_F(MainWindowTest, CommandsAreQuietWhileTheEngineIsBusy) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    m_saveChoice = QString::fromStdString(m_dir.file("copy.jpg"));
    auto* rotate = qobject_cast<QToolButton*>(
        window.findChild<QToolBar*>("ToolBar1")
            ->widgetForAction(window.findChild<QAction*>("rotate_right")));
    ASSERT_NE(rotate, nullptr);
    const auto sourceWidth = [&] {
        return ::FreeImage_GetWidth(window.engine().SourceBitmap.get());
    };
    ASSERT_EQ(sourceWidth(), 320u);

    window.setMainWindowEnabled(false);
    window.setMainWindowEnabled(false);
    window.setMainWindowEnabled(true);  // an inner call ended, the outer one runs on
    QTest::keyClick(&window, Qt::Key_S);
    QTest::mouseClick(rotate, Qt::LeftButton);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(m_saveDialogs.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("copy.jpg")));
    EXPECT_EQ(sourceWidth(), 320u);

    window.setMainWindowEnabled(true);
    QTest::mouseClick(rotate, Qt::LeftButton);
    EXPECT_EQ(sourceWidth(), 240u);
    QTest::keyClick(&window, Qt::Key_S);
    EXPECT_EQ(m_saveDialogs.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("copy.jpg")));
}

// A press made before a long call began still ends with its release during
// the call: a pan lets its cursor go.
TEST_F(MainWindowTest, AReleaseDuringALongCallEndsAnEarlierPress) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* view = window.findChild<ImageView*>("Panel4");
    auto* canvas = window.findChild<QWidget*>("Image2");
    ASSERT_NE(canvas, nullptr);
    for (int i = 0; i < 12; ++i) view->zoom_inExecute();  // larger than its pane: it pans
    const QPoint middle = canvas->rect().center();
    QTest::mousePress(canvas, Qt::LeftButton, {}, middle);
    ASSERT_EQ(canvas->cursor().shape(), Qt::SizeAllCursor);

    window.setMainWindowEnabled(false);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, middle);
    window.setMainWindowEnabled(true);
    EXPECT_NE(canvas->cursor().shape(), Qt::SizeAllCursor);
}

// A message box shown during a long call takes its answer as usual.
TEST_F(MainWindowTest, AMessageBoxAnswersWhileTheEngineIsBusy) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    window.setMainWindowEnabled(false);
    // A real click, which passes through the application's event handling.
    test::WhenShown<QMessageBox>(
        [](QMessageBox* box) { QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton); });
    const engine::MessageAnswer answer = window.showMessage(
        engine::MessageKind::Confirmation, "Go on?", engine::MessageButtons::YesNo);
    window.setMainWindowEnabled(true);
    EXPECT_EQ(answer, engine::MessageAnswer::Yes);
}

// Keypad + and - zoom even while the focus is in a number edit, which has no
// use for them; the keypad's digits still type into it.
TEST_F(MainWindowTest, KeypadZoomKeysPassThroughNumberEdits) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    window.resize(1200, 900);
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.ModePupupClick(engine::OptimizationMode::Manual);
    window.findChild<QTabBar*>("FileTypeTabs")->setCurrentIndex(engine::kFormatJpeg);
    auto* quality = window.findChild<QLineEdit*>("jpeg_calitate");
    auto* view = window.findChild<ImageView*>("Panel4");
    ASSERT_NE(view, nullptr);
    quality->setFocus();
    QTRY_VERIFY(quality->hasFocus());
    const QString text = quality->text();
    const int width = view->viewport().view.width;

    QTest::keyClick(quality, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_GT(view->viewport().view.width, width);
    QTest::keyClick(quality, Qt::Key_Minus, Qt::KeypadModifier);
    EXPECT_EQ(view->viewport().view.width, width);
    EXPECT_EQ(quality->text(), text);

    quality->end(false);
    QTest::keyClick(quality, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_EQ(quality->text(), text + "5");
    EXPECT_EQ(view->viewport().view.width, width);
}

// The progress bar lies over status panel 1 from the start of a long call to
// its end, and moves at most once per tick of its timer.
TEST_F(MainWindowTest, ProgressBarCoversPanelOneDuringALongCall) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    auto* bar = window.findChild<QProgressBar*>("ProgressBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    // The bar moves once per 100 ms tick; a check that no tick came is only
    // made when less than a tick's time has passed (a loaded machine may
    // stall between two calls).
    QElapsedTimer clock;
    clock.start();
    window.libraryProgress(0);
    EXPECT_TRUE(bar->isVisible());
    auto* panel1 = window.findChild<QLabel*>("StatusPanel1");
    ASSERT_NE(panel1, nullptr);
    EXPECT_EQ(bar->geometry(), panel1->geometry());
    window.libraryProgress(2500);
    if (clock.elapsed() < 90) {
        EXPECT_EQ(bar->value(), 0);  // no tick yet
    }
    QTest::qWait(250);
    window.libraryProgress(5000);
    EXPECT_EQ(bar->value(), 5000);
    clock.restart();
    window.libraryProgress(6000);
    if (clock.elapsed() < 90) {
        EXPECT_EQ(bar->value(), 5000);  // the tick was used
    }
    window.libraryProgress(10000);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(bar->value(), 0);
}

// The adjustments page is one of the format panel's pages, and a change on it
// makes the result again.
TEST_F(MainWindowTest, AdjustmentsPageChangesTheResult) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    const std::size_t before = ResultBytes(window);
    auto* grayscale = window.findChild<QCheckBox*>("grayscale");
    ASSERT_NE(grayscale, nullptr);
    grayscale->setChecked(!grayscale->isChecked());
    EXPECT_EQ(window.engine().settings.AdjustGrayscale, grayscale->isChecked());
    EXPECT_NE(ResultBytes(window), before);

    auto* brightness = window.findChild<QSlider*>("brightness");
    ASSERT_NE(brightness, nullptr);
    brightness->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_GT(window.engine().settings.AdjustBrightness, 0);
    window.findChild<QPushButton*>("Button1")->click();  // apply to the source
    EXPECT_EQ(window.engine().settings.AdjustBrightness, 0);
    EXPECT_EQ(brightness->value(), 0);
}

// The about box names the program, its version and the image library.
TEST_F(MainWindowTest, AboutBoxTellsTheVersions) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    QString text;
    whenShown<QDialog>([&](QDialog* box) {
        for (QLabel* label : box->findChildren<QLabel*>()) text += label->text() + "\n";
        box->accept();
    });
    window.findChild<QAction*>("About1")->trigger();
    EXPECT_TRUE(text.contains(QString::fromStdString(std::string(kProductVersion))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(engine::LibraryVersionText())))
        << text.toStdString();
}

// "Always apply" with the optipng preset makes the window's PNG smaller, and
// a batch run from the window too; the chosen preset survives a restart.
TEST_F(MainWindowTest, AppliedOptimizerShrinksThePngInTheWindowAndItsBatch) {
    const std::string photo = m_dir.file("photo.png");
    std::size_t plain = 0;
    {
        TForm1 window({QString::fromStdString(photo)}, environment());
        QSignalSpy started(&window, &TForm1::startedUp);
        ASSERT_TRUE(started.wait(5000));
        window.ModePupupClick(engine::OptimizationMode::Manual);
        window.findChild<QTabBar*>("FileTypeTabs")->setCurrentIndex(engine::kFormatPng);
        ASSERT_EQ(window.engine().settings.Format, engine::kFormatPng);
        plain = ResultBytes(window);

        auto* presets = window.findChild<QComboBox*>("png_optimizer");
        ASSERT_NE(presets, nullptr);
        ASSERT_EQ(presets->count(), 3);
        presets->setCurrentIndex(1);  // "OptiPNG o3"
        emit presets->activated(1);
        window.findChild<QToolButton*>("btn_apply_png_optimizer")->click();
        ASSERT_TRUE(window.engine().settings.PNGApplyOptimizer);
        EXPECT_LT(ResultBytes(window), plain);

        // The same engine runs the batch, its optimizer hook included.
        const std::filesystem::path out = m_dir.path() / "out";
        answerNextMessage(QMessageBox::Yes);  // unload the image
        ASSERT_TRUE(window.EnterBatchMode());
        Tbatch* batch = window.batchWindow();
        batch->AddFile(photo);
        batch->findChild<QLineEdit*>("output_path")->setText(QString::fromStdString(out.string()));
        batch->btn_startClick();
        ASSERT_TRUE(std::filesystem::exists(out / "photo.png"));
        EXPECT_LT(std::filesystem::file_size(out / "photo.png"), plain);
        batch->done(QDialog::Rejected);
        window.close();
    }
    TForm1 again({}, environment());
    QSignalSpy started(&again, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(again.engine().settings.PNGOptimizer, 1);
    EXPECT_EQ(again.findChild<QComboBox*>("png_optimizer")->currentIndex(), 1);
}

// Gone, or ended and waiting for its parent to read its status.
bool ProcessEnded(const std::string& pid) {
    std::string stat;
    std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
    return stat.empty() || stat.find(") Z ") != std::string::npos;
}

// A custom optimizer that would run for a minute: Stop (shown only while it
// runs, reachable although every other command is quiet) ends it and its
// children, and the encoder's PNG stays the result.
TEST_F(MainWindowTest, StopEndsARunningOptimizerAndKeepsTheResult) {
    const std::filesystem::path pidFile = m_dir.path() / "tool.pid";
    const std::filesystem::path tool = m_dir.path() / "slow-tool";
    std::ofstream(tool) << "#!/bin/sh\nsleep 60 &\necho $! > '" << pidFile.string() << "'\nwait\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(settingsFile().parent_path());
    std::ofstream(settingsFile().parent_path() / "Pimo-external-tools.ini")
        << "[Slow tool]\nFileName=" << tool.string() << "\nParams={IMAGE_FILE}\n";

    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.ModePupupClick(engine::OptimizationMode::Manual);
    window.findChild<QTabBar*>("FileTypeTabs")->setCurrentIndex(engine::kFormatPng);
    const std::size_t plain = ResultBytes(window);
    auto* presets = window.findChild<QComboBox*>("png_optimizer");
    ASSERT_EQ(presets->count(), 4);
    presets->setCurrentIndex(3);
    emit presets->activated(3);

    auto* stop = window.findChild<QPushButton*>("stop_optimizer");
    ASSERT_NE(stop, nullptr);
    EXPECT_TRUE(stop->isHidden());
    EXPECT_EQ(stop->shortcut(), QKeySequence(Qt::Key_Escape));
    bool seenRunning = false;
    bool quietMeanwhile = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stop->isHidden() || !std::filesystem::exists(pidFile)) return;
        seenRunning = true;
        // The other commands are quiet; Esc still reaches the stop button.
        QTest::keyClick(&window, Qt::Key_S);
        quietMeanwhile = m_saveDialogs.empty() && stop->isEnabled();
        QTest::keyClick(&window, Qt::Key_Escape);
        poll.stop();
    });
    poll.start(20);
    QElapsedTimer run;
    run.start();
    window.findChild<QToolButton*>("btn_start_png_optimizer")->click();
    EXPECT_LT(run.elapsed(), 30000);  // the tool alone would take a minute

    EXPECT_TRUE(seenRunning);
    EXPECT_TRUE(quietMeanwhile);
    EXPECT_TRUE(stop->isHidden());
    EXPECT_TRUE(window.menuBar()->isEnabled());
    EXPECT_EQ(ResultBytes(window), plain);
    std::string pid;
    std::ifstream(pidFile) >> pid;
    ASSERT_FALSE(pid.empty());
    QTRY_VERIFY_WITH_TIMEOUT(ProcessEnded(pid), 5000);
}

// The result's quality score appears beside its size once computed, away
// from the window's thread; a lower quality reads as a larger distance.
TEST_F(MainWindowTest, QualityScoreFollowsTheResult) {
    TForm1 window({QString::fromStdString(m_dir.file("photo.png"))}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    auto* score = window.findChild<QLabel*>("quality_score");
    ASSERT_NE(score, nullptr);
    const QRegularExpression measured(R"(^Quality: (\d+\.\d\d) \((very good|good|poor)\)$)");
    const auto distance = [&] {
        const QRegularExpressionMatch match = measured.match(score->text());
        return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(distance() >= 0, 30000);
    const double atAutomatic = distance();

    window.ModePupupClick(engine::OptimizationMode::Manual);
    TypeNumber(window, "jpeg_calitate", 5);
    EXPECT_EQ(score->text(), "Quality: computing…");
    QTRY_VERIFY_WITH_TIMEOUT(distance() >= 0, 30000);
    EXPECT_GT(distance(), atAutomatic);

    window.engine().UnloadImage();
    EXPECT_EQ(score->text(), "");

    // Turned off in the options: no score is measured or shown.
    window.engine().options.ShowQualityScore = false;
    ASSERT_TRUE(window.openFile(QString::fromStdString(m_dir.file("photo.png"))));
    EXPECT_EQ(score->text(), "");
}

// A photo larger than the panes, opened in manual mode with a JPEG result
// (and its quality score when `score`).
class LargeJpegWindowTest : public MainWindowTest {
  protected:
    static constexpr unsigned kWidth = 2400, kHeight = 1800;

    void open(bool score) {
        const auto photo = test::MakePhotoLike(kWidth, kHeight, 3);
        test::WriteFileBytes(m_dir.path() / "large.jpg",
                             test::EncodeWithLibrary(FIF_JPEG, photo.get(), 90));
        std::filesystem::create_directories(settingsFile().parent_path());
        std::ofstream(settingsFile())
            << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=60\n"
            << "AskToResizeLargeImages=0\nShowQualityScore=" << (score ? 1 : 0) << "\n";
        m_window = std::make_unique<TForm1>(
            QStringList{QString::fromStdString(m_dir.file("large.jpg"))}, environment());
        m_window->resize(1200, 900);
        m_window->show();
        QSignalSpy started(m_window.get(), &TForm1::startedUp);
        ASSERT_TRUE(started.wait(20000));
        m_view = m_window->findChild<ImageView*>("Panel4");
        ASSERT_NE(m_view, nullptr);
        ASSERT_TRUE(m_window->engine().ResultStream);
    }

    // The result as every pixel of it decodes.
    engine::Bitmap fullResult() {
        return engine::Bitmap(imagelib::FreeImage_LoadFromMemory(
            imagelib::kFormatJpeg, m_window->engine().ResultStream.get(), JPEG_ACCURATE));
    }

    // Known spots of the image in the result pane's middle, at 100 %: the
    // painted device pixel and that of `full` under it.
    struct Spot {
        QPoint image;
        QRgb painted;
        QRgb full;
    };
    std::vector<Spot> spotsAtActualSize(FIBITMAP* full) {
        const QImage painted = m_window->findChild<QWidget*>("Image2")->grab().toImage();
        const ViewportState& state = m_view->viewport();
        EXPECT_EQ(state.view, (ViewSize{kWidth, kHeight}));
        std::vector<Spot> spots;
        for (const QPoint offset : {QPoint(0, 0), QPoint(7, 3), QPoint(-5, 11), QPoint(100, -60)}) {
            const QPoint at = QPoint(painted.width() / 2, painted.height() / 2) + offset;
            const int x = at.x() - state.position.x, y = at.y() - state.position.y;
            const BYTE* row = FreeImage_GetScanLine(full, static_cast<int>(kHeight) - 1 - y);
            const BYTE* bgr = row + 3 * x;
            spots.push_back({QPoint(x, y), painted.pixel(at),
                             qRgb(bgr[FI_RGBA_RED], bgr[FI_RGBA_GREEN], bgr[FI_RGBA_BLUE])});
        }
        return spots;
    }

    std::unique_ptr<TForm1> m_window;
    ImageView* m_view = nullptr;
};

// Fitted, the result is decoded only as large as the pane shows it; at 100 %
// the pane shows the full decode's own pixels, decoded meanwhile on a worker.
TEST_F(LargeJpegWindowTest, AFittedResultIsDecodedReducedAndActualSizeShowsEveryPixel) {
    open(false);
    const DisplayImage& shown = m_view->pictureFor(false);
    const int fitted = DisplayReduction({kWidth, kHeight}, m_view->viewport().view);
    ASSERT_GT(fitted, 1);
    EXPECT_EQ(shown.reduction(), fitted);
    EXPECT_EQ(m_window->engine().ResultReduction, static_cast<unsigned>(fitted));
    EXPECT_EQ(shown.size(), QSize(kWidth, kHeight));
    EXPECT_EQ(shown.image().width(), static_cast<int>((kWidth + fitted - 1) / fitted));
    // The status bar tells the file's depth, not the reduced picture's.
    EXPECT_EQ(m_window->findChild<QLabel*>("StatusPanel2")->text(), "Optimized: 24 bit JPEG image");

    // Saving writes the encoded result, every pixel of it.
    const std::filesystem::path saved = m_dir.path() / "saved.jpg";
    ASSERT_TRUE(m_window->engine().WriteResultToFile(saved.string(), false));
    EXPECT_EQ(test::ReadFileBytes(saved),
              imagelib::StreamBytes(m_window->engine().ResultStream.get()));

    m_view->actual_sizeExecute();
    QTRY_COMPARE_WITH_TIMEOUT(m_view->pictureFor(false).reduction(), 1, 20000);
    const engine::Bitmap full = fullResult();
    ASSERT_TRUE(full);
    for (const Spot& spot : spotsAtActualSize(full.get()))
        EXPECT_EQ(spot.painted, spot.full) << spot.image.x() << "," << spot.image.y();

    // A new result while at 100 % comes whole at once.
    TypeNumber(*m_window, "jpeg_calitate", 40);
    EXPECT_EQ(m_window->engine().ResultReduction, 1u);
    EXPECT_EQ(m_view->pictureFor(false).reduction(), 1);
}

// A size search leaves its last probe in the engine's stream, not shown:
// zooming in still shows the pixels of the result on display.
TEST_F(LargeJpegWindowTest, ZoomingInShowsTheResultOnDisplayNotALaterProbe) {
    open(false);
    ASSERT_GT(m_view->pictureFor(false).reduction(), 1);
    const engine::Bitmap shown = fullResult();
    ASSERT_TRUE(shown);
    engine::Engine& engine = m_window->engine();
    engine.settings.JPEGQuality = 5;
    ASSERT_NE(engine.OptimizeImage(""), 0u);
    const engine::Bitmap probe = fullResult();
    ASSERT_TRUE(probe);

    m_view->actual_sizeExecute();
    QTRY_COMPARE_WITH_TIMEOUT(m_view->pictureFor(false).reduction(), 1, 20000);
    bool probeDiffers = false;
    for (const Spot& spot : spotsAtActualSize(shown.get()))
        EXPECT_EQ(spot.painted, spot.full) << spot.image.x() << "," << spot.image.y();
    for (const Spot& spot : spotsAtActualSize(probe.get()))
        probeDiffers |= spot.painted != spot.full;
    EXPECT_TRUE(probeDiffers);  // the spots tell the two results apart
}

// The score is measured on the whole result, however reduced it is shown.
TEST_F(LargeJpegWindowTest, TheScoreOfAResultShownReducedIsThatOfTheWholeResult) {
    open(true);
    ASSERT_GT(m_view->pictureFor(false).reduction(), 1);
    const auto input = engine::CaptureResultScoreInput(m_window->engine());
    ASSERT_TRUE(input);
    const engine::Bitmap full = fullResult();
    ASSERT_TRUE(full);
    // The input is the encoded result itself, which decodes to every pixel.
    const engine::Bitmap decoded(
        imagelib::FreeImage_LoadFromBytes(imagelib::kFormatJpeg, input->encoded, JPEG_ACCURATE));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(FreeImage_GetWidth(decoded.get()), kWidth);
    EXPECT_EQ(FreeImage_GetHeight(decoded.get()), kHeight);
    const QString expected = QualityScoreText(engine::ScoreResult(*input));
    auto* score = m_window->findChild<QLabel*>("quality_score");
    ASSERT_NE(score, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(score->text(), expected, 60000);
}

TEST_F(MainWindowTest, ImageCommandKeys) {
    TForm1 window({}, environment());
    QSignalSpy started(&window, &TForm1::startedUp);
    ASSERT_TRUE(started.wait(5000));
    const std::pair<const char*, QKeySequence> keys[] = {{"rotate_left", Qt::Key_L},
                                                         {"rotate_right", Qt::Key_R},
                                                         {"flip_horizontally", Qt::Key_H},
                                                         {"flip_vertically", Qt::Key_V},
                                                         {"action_resample", Qt::CTRL | Qt::Key_R},
                                                         {"compress2size_btn", Qt::Key_F9}};
    for (const auto& [name, key] : keys) {
        auto* action = window.findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->shortcut(), key) << name;
    }
    // L turns the open picture.
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(window.openFile(QString::fromStdString(m_dir.file("photo.png"))));
    QTest::keyClick(&window, Qt::Key_L);
    EXPECT_EQ(engine::DisplayFormatOf(window.engine().SourceBitmap.get()).width, 240);
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
