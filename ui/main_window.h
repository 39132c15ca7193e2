#pragma once
// The main window: opens an image, shows the source and the result side by
// side with both sizes, and edits the settings the engine reads. It decides
// nothing about images itself; it forwards to the engine and shows its state.

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "engine/compress_to_size.h"
#include "engine/engine.h"
#include "optimizers/optimizer_presets.h"
#include "optimizers/optimizer_runner.h"
#include "platform/http_download.h"
#include "platform/known_folders.h"
#include "settings/settings_files.h"
#include "settings/window_settings.h"
#include "ui/adjustments_panel.h"
#include "ui/batch_window.h"
#include "ui/busy_input_guard.h"
#include "ui/format_panel.h"
#include "ui/full_screen.h"
#include "ui/image_commands.h"
#include "ui/image_view.h"
#include "ui/optimizer_group.h"
#include "ui/optimizer_preset_model.h"
#include "ui/quality_curve_window.h"
#include "ui/result_detail.h"
#include "ui/result_scorer.h"
#include "ui/window_environment.h"
#include "update/update_check.h"

namespace pimo::ui {

inline constexpr const char* kNoImageTitle = "PIMO - No image loaded";

class TForm1 : public QMainWindow, public engine::Host {
    Q_OBJECT
  public:
    /// `arguments`: the command line without the program name.
    explicit TForm1(QStringList arguments, WindowEnvironment environment = {},
                    QWidget* parent = nullptr);
    ~TForm1() override;

    engine::Engine& engine() { return m_engine; }

    // ---- engine::Host ----
    void setStatusText(const std::string& text, int panel) override;
    void setBusyCursor(bool busy) override;
    engine::MessageAnswer showMessage(engine::MessageKind kind, const std::string& text,
                                      engine::MessageButtons buttons) override;
    void showBalloon(const std::string& title, const std::string& description,
                     int timeoutMs) override;
    void hideBalloon() override;
    void processPendingEvents() override;
    void setMainWindowEnabled(bool enabled) override;
    void showNoImage() override;
    void showFileInformation(const std::string& caption, const std::string& sizeText,
                             const std::string& sizeHint) override;
    void showSourceImage(bool actualSize) override;
    unsigned resultDisplayReduction(unsigned width, unsigned height) override;
    bool showResultImage() override;
    void showResultSize(const std::string& sizeText, const std::string& sizeHint,
                        bool smaller) override;
    void engineStateChanged() override;
    void resampleLargeImage() override;

    /// The image library's progress (0 when a long call starts, 10000 when it
    /// ends): the bar over status panel 1, moved at most ten times a second.
    void libraryProgress(int value);
    /// The paste command: the clipboard's image becomes the source.
    void PasteFromClipboard();

    /// Loads an image file (UTF-8 path) as the open command does.
    bool openFile(const QString& path);

    /// Starts a check for a newer version: `manual` when the user asked for
    /// it, which also reports the latest version and failures.
    void Checkforupdates1Click(bool manual);

    /// The reaction to a setting the user changed: marks the result stale,
    /// previews it when automatic preview is on, and turns an automatic mode
    /// into manual mode.
    void f_SettingsChanged();
    /// Selects `mode` and its menu entry; an
    /// automatic mode chosen with an image loaded chooses its settings again.
    void ModePupupClick(engine::OptimizationMode mode);

    /// Files dropped on the window: one is opened, several go to the batch window.
    void filesDropped(const QStringList& paths);

    /// Shows the options dialog; confirmed options take effect and are stored at once.
    void Options1Click();

    /// Hands the engine to the batch window (made on first use): unloads the
    /// image after asking, hides this window. False when the user declines.
    bool EnterBatchMode();
    /// The batch command: the batch window, modally.
    void btn_batchClick();
    /// The batch window, once made.
    Tbatch* batchWindow() { return m_batch; }

  signals:
    /// The start-up tasks have run.
    void startedUp();
    /// An update check has told the user its outcome (or had nothing to tell).
    void updateCheckReported();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private slots:
    void Timer1Timer();
    void open_btnClick();
    void save_btnClick() { SaveResult(false); }
    void save_asExecute() { SaveResult(true); }
    void automatClick(bool on);

  private:
    void buildWidgets();
    void buildActions();
    void buildHelpMenu();
    void updateSaveActions();
    /// Save (false) or Save As (true): the naming, format and overwrite rules.
    void SaveResult(bool saveAs);

    settings::SettingsFields settingsFields();
    void showSettings();
    void openWebPage(std::string_view path);
    void openInstalledDocumentation();
    void applyToolbarCaptions();
    void buildViewMenu();
    /// After the source changed (opened, turned, mirrored): controls and actions follow.
    void sourceReplaced();
    void leaveBatchMode();
    void loadSettings();
    void openInBatch(const std::vector<std::string>& paths);
    void buildFileMenu();
    void buildModeButton();
    void buildPreviewMenu();
    void buildProgressBar();
    void buildOptimizerStop();
    void buildOptimizerGroup();
    /// Paste is enabled exactly while the clipboard holds an image.
    void updatePasteAction();
    void showAboutBox();

    WindowEnvironment m_environment;
    settings::SettingsFiles m_settingsFiles;
    settings::WindowSettings m_window;
    engine::Engine m_engine;
    QStringList m_arguments;
    QTimer Timer1;
    ImageView* Panel4 = nullptr;
    FullScreenSwitch* m_fullScreen = nullptr;
    FormatPanel* m_formatPanel = nullptr;
    QLabel* m_statusPanels[4] = {};
    QAction* m_save = nullptr;
    QToolButton* ModeButton = nullptr;
    QAction* m_modeEntries[4] = {};
    QAction* automat = nullptr;
    ImageCommands* m_imageCommands = nullptr;
    QAction* preview_btn = nullptr;
    QAction* m_saveAs = nullptr;
    QAction* m_paste = nullptr;
    /// Quit shares Esc with the optimizer's stop button.
    QAction* m_quit = nullptr;
    ImageAdjustTab* m_adjustments = nullptr;
    // The external optimizers: the presets (built again at start-up), the
    // list model over them, the runner the PNG output calls, and their group.
    optimizers::OptimizerPresets m_presets;
    OptimizerPresetModel* m_presetModel = nullptr;
    std::unique_ptr<optimizers::OptimizerRunner> m_runner;
    PngOptimizerGroup* m_optimizerGroup = nullptr;
    QProgressBar* m_progressBar = nullptr;
    /// Shown while an external optimizer runs; Esc or a click ends the run.
    QPushButton* stop_optimizer = nullptr;
    bool m_optimizerStopAsked = false;
    ResultScorer* m_scorer = nullptr;
    // The result's pixels for a closer zoom than the reduced result shows;
    // the full size of the result the engine last decoded; the encoded bytes
    // and full size of the result on display while it is shown reduced.
    ResultDetailDecoder* m_resultDetail = nullptr;
    QSize m_resultFullSize;
    std::vector<std::uint8_t> m_shownResultEncoded;
    QSize m_shownResultSize;
    QualityCurveWindow* m_curve = nullptr;
    QAction* m_curveAction = nullptr;
    QTimer ProgressTimer;
    bool m_progressTick = false;
    // Events are handled at most this often during a long call: each round
    // costs time the call itself could use.
    QElapsedTimer m_sincePendingEvents;
    BusyInputGuard* m_busyGuard = nullptr;
    /// Whether the clipboard holds an image, looked at when it changes only.
    bool m_clipboardHasImage = false;
    QToolBar* ToolBar1 = nullptr;
    Tbatch* m_batch = nullptr;
    // Last, so that the checks still running are stopped and joined before
    // anything they report to goes.
    std::vector<std::jthread> m_updateChecks;
};

}  // namespace pimo::ui
