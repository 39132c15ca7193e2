#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/startup_steps.h"
#include "engine/automatic_settings.h"
#include "engine/source_adjustments.h"
#include "platform/local_time.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"
#include "ui/bitmap_image.h"
#include "ui/icons.h"
#include "ui/message_box.h"
#include "ui/optimizer_group.h"
#include "ui/optimizer_preset_model.h"
#include "ui/options_dialog.h"
#include "ui/window_placement.h"
#include "util/product.h"

namespace pimo::ui {
namespace {

// Every new result allocates a decoded picture and display images of tens of
// megabytes. The C library hands blocks that large straight back to the
// system when freed, so each result paid again for fresh, zeroed pages (on
// a 12-megapixel photo, more than the JPEG decode itself). Kept in the heap,
// the next result of the same size reuses them. The limit bounds what stays.
void KeepImageMemoryForReuse() {
#if defined(__GLIBC__)
    constexpr int kLargestKeptBlock = 512 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kLargestKeptBlock);
    mallopt(M_TRIM_THRESHOLD, kLargestKeptBlock);
#endif
}

}  // namespace

TForm1::TForm1(QStringList arguments, WindowEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      m_environment(CompletedEnvironment(std::move(environment))),
      m_engine(*this),
      m_arguments(std::move(arguments)) {
    KeepImageMemoryForReuse();
    buildWidgets();
    buildActions();
    buildHelpMenu();
    applyToolbarCaptions();
    setAcceptDrops(true);
    setWindowTitle(kNoImageTitle);
    m_window.CaptionsOffReaction = [this] { applyToolbarCaptions(); };
    m_window.PNGPresetReaction = [this] { m_formatPanel->palettePresetRead(engine::kFormatPng); };
    m_window.GIFPresetReaction = [this] { m_formatPanel->palettePresetRead(engine::kFormatGif); };
    m_window.ModeSelection = [this](engine::OptimizationMode mode) { ModePupupClick(mode); };
    m_settingsFiles = settings::OpenSettingsFiles(*m_environment.folders, *this);
    PlaceWindow(*this, m_settingsFiles.settings, settingsFields());
    Timer1.setSingleShot(true);
    Timer1.setInterval(200);
    connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer1.start();
    ProgressTimer.setInterval(100);
    connect(&ProgressTimer, &QTimer::timeout, this, [this] { m_progressTick = true; });
}

TForm1::~TForm1() {
    delete m_batch;          // before the engine and the settings it refers to
    m_updateChecks.clear();  // stops and joins the checks still running
    // The library's callbacks must not outlive the window they call.
    m_engine.DetachLibraryCallbacks();
    settings::FlushSettingsFiles(m_settingsFiles);
}

settings::SettingsFields TForm1::settingsFields() {
    return {m_engine.settings, m_engine.options, m_window};
}

// The controls show what the settings hold, without starting a preview.
void TForm1::showSettings() {
    m_formatPanel->showSettings();
    m_optimizerGroup->showSettings();
    m_adjustments->showSettings();
    m_curve->settingsChanged();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A long call is still using what closing would destroy.
    if (m_engine.Busy()) {
        event->ignore();
        return;
    }
    RememberPlacement(*this, m_window);
    m_window.DualView = Panel4->dualView();
    m_window.FitOnlyBig = Panel4->fitOnlyBig();
    if (m_settingsFiles.settings.isOpen())
        settings::SaveSettings(m_settingsFiles.settings, settingsFields(), *this);
    event->accept();
}

void TForm1::buildWidgets() {
    m_busyGuard = new BusyInputGuard(*this);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    Panel4 = new ImageView;
    layout->addWidget(Panel4, 1);
    connect(Panel4, &ImageView::zoomTextChanged, this,
            [this](const QString& text) { m_statusPanels[0]->setText(text); });
    m_scorer = new ResultScorer(this);
    connect(m_scorer, &ResultScorer::textChanged, Panel4, &ImageView::setQualityText);
    m_resultDetail = new ResultDetailDecoder(this);
    connect(m_resultDetail, &ResultDetailDecoder::decoded, Panel4, &ImageView::setResultDetail);
    connect(Panel4, &ImageView::resultDetailNeeded, this, [this](int reduction) {
        // The bytes of the result on display, kept when it was shown: the
        // engine's stream may hold another one by now (a search's last probe).
        if (m_shownResultEncoded.empty()) return;
        m_resultDetail->decode(m_shownResultEncoded, reduction, m_shownResultSize);
    });

    m_formatPanel = new FormatPanel(m_engine);
    layout->addWidget(m_formatPanel);
    connect(m_formatPanel, &FormatPanel::settingsChanged, this, &TForm1::f_SettingsChanged);
    m_adjustments = new ImageAdjustTab(m_engine.settings, m_window.SaveImageAdjustments);
    m_formatPanel->addPage(m_adjustments, tr("Adjustments"));
    connect(m_adjustments, &ImageAdjustTab::settingsChanged, this, &TForm1::f_SettingsChanged);
    connect(m_adjustments, &ImageAdjustTab::applyToSourceRequested, this, [this] {
        if (!engine::ApplyAdjustmentsToSource(m_engine)) return;
        Panel4->setSourceImage(ToQImage(m_engine.SourceBitmap.get()));
        m_adjustments->showSettings();
        m_curve->sourceChanged();
    });
    setCentralWidget(central);
    buildOptimizerGroup();

    // Status panels of 90, 200, 200 and 100 pixels; the last takes what is left.
    constexpr int kPanelWidths[4] = {90, 200, 200, 100};
    for (int i = 0; i < 4; ++i) {
        m_statusPanels[i] = new QLabel;
        m_statusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
        m_statusPanels[i]->setMinimumWidth(kPanelWidths[i]);
        statusBar()->addWidget(m_statusPanels[i], i == 3 ? 1 : 0);
    }
    m_statusPanels[0]->setText("Ready");
    buildProgressBar();
}

// The PNG page's external optimizer group. Its presets are the internal ones
// until the start-up reads the stored custom ones.
void TForm1::buildOptimizerGroup() {
    m_presetModel = new OptimizerPresetModel(m_presets, this);
    m_runner = std::make_unique<optimizers::OptimizerRunner>(
        m_presets, m_environment.folders->executableFolder());
    m_optimizerGroup =
        new PngOptimizerGroup(m_engine, *m_presetModel, m_settingsFiles.externalTools, *m_runner);
    m_formatPanel->addToPngPage(m_optimizerGroup);
    connect(m_optimizerGroup, &PngOptimizerGroup::settingsChanged, this,
            &TForm1::f_SettingsChanged);
    connect(m_optimizerGroup, &PngOptimizerGroup::optimizerRun, this, &TForm1::updateSaveActions);
    buildOptimizerStop();
}

void TForm1::buildActions() {
    ToolBar1 = addToolBar(tr("Main"));
    ToolBar1->setObjectName("ToolBar1");
    buildFileMenu();
    buildModeButton();
    m_imageCommands = new ImageCommands(m_engine, *this, m_environment.askText,
                                        {[this] { sourceReplaced(); }, [this] { showSettings(); }});
    m_imageCommands->addTo(menuBar()->addMenu(tr("&Image")), ToolBar1);
    buildPreviewMenu();
    buildViewMenu();
    updateSaveActions();
}

void TForm1::buildFileMenu() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open..."), this, &TForm1::open_btnClick);
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    m_paste = file->addAction(tr("&Paste"), this, &TForm1::PasteFromClipboard);
    m_paste->setObjectName("Paste1");
    m_paste->setShortcut(QKeySequence::Paste);
    // Asking the clipboard what it holds may be a round trip to another
    // program: it is asked when its content changes, not on every new result.
    const auto clipboardChanged = [this] {
        const QMimeData* data = QApplication::clipboard()->mimeData();
        m_clipboardHasImage = data && data->hasImage();
        updatePasteAction();
    };
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, clipboardChanged);
    clipboardChanged();
    m_save = file->addAction(tr("&Save"), this, &TForm1::save_btnClick);
    m_save->setObjectName("Save");
    m_save->setShortcut(QKeySequence::Save);
    m_saveAs = file->addAction(tr("Save &as..."), this, &TForm1::save_asExecute);
    m_saveAs->setObjectName("save_as");
    m_saveAs->setShortcut(QKeySequence(Qt::Key_S));
    file->addSeparator();
    QAction* batchCommand =
        file->addAction(tr("&Batch optimization..."), this, &TForm1::btn_batchClick);
    batchCommand->setObjectName("Batchoptimization1");
    file->addSeparator();
    QAction* options = file->addAction(tr("&Options..."), this, &TForm1::Options1Click);
    options->setObjectName("Options1");
    file->addSeparator();
    m_quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    m_quit->setObjectName("Quit1");
    m_quit->setShortcut(QKeySequence(Qt::Key_Escape));
    for (QAction* action : {open, m_paste, m_save, m_saveAs}) ToolBar1->addAction(action);
    const std::pair<QAction*, const char*> icons[] = {
        {open, "open"},        {m_paste, "paste"},      {m_save, "save"},
        {m_saveAs, "save_as"}, {batchCommand, "batch"}, {options, "options"}};
    for (const auto& [action, icon] : icons) action->setIcon(ToolbarIcon(icon));
}

// The optimization modes, in menu order; the button shows the current one.
void TForm1::buildModeButton() {
    QMenu* modes = new QMenu(this);
    const char* const modeNames[4] = {"FullAuto1", "Autokeepformat1", "AutoUserFormat1", "Manual1"};
    const QString modeCaptions[4] = {tr("Automatic"), tr("Automatic, keep format"),
                                     tr("Automatic, my format"), tr("Manual")};
    for (int entry = 0; entry < 4; ++entry) {
        m_modeEntries[entry] = modes->addAction(modeCaptions[entry], this, [this, entry] {
            ModePupupClick(engine::ModeFromNumber(entry));
        });
        m_modeEntries[entry]->setObjectName(modeNames[entry]);
        m_modeEntries[entry]->setCheckable(true);
    }
    ModeButton = new QToolButton;
    ModeButton->setObjectName("ModeButton");
    ModeButton->setMenu(modes);
    ModeButton->setPopupMode(QToolButton::InstantPopup);
    ModeButton->setText(modeCaptions[0]);
    ModeButton->setIcon(ToolbarIcon("mode"));
    ToolBar1->addSeparator();
    ToolBar1->addWidget(ModeButton);
}

void TForm1::buildPreviewMenu() {
    QMenu* view = menuBar()->addMenu(tr("&Preview"));
    automat = view->addAction(tr("&Automatic preview"), this, &TForm1::automatClick);
    automat->setObjectName("automat");
    automat->setCheckable(true);
    automat->setChecked(true);
    automat->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    const auto preview = [this] { m_engine.PreviewImage(); };
    // F5 previews whatever automatic preview says; the toolbar button only
    // while automatic preview is off.
    QAction* actionPreview = view->addAction(tr("&Preview"), this, preview);
    actionPreview->setObjectName("action_preview");
    actionPreview->setShortcut(QKeySequence(Qt::Key_F5));
    preview_btn = new QAction(ToolbarIcon("preview"), tr("Preview"), this);
    preview_btn->setObjectName("preview_btn");
    connect(preview_btn, &QAction::triggered, this, preview);
    ToolBar1->addAction(preview_btn);
}

// The view's commands, full screen among them.
void TForm1::buildViewMenu() {
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addActions({Panel4->zoomInAction(), Panel4->zoomOutAction(), Panel4->actualSizeAction(),
                      Panel4->fitInWindowAction()});
    view->addSeparator();
    view->addActions({Panel4->dualViewAction(), Panel4->fitOnlyBigAction()});
    m_fullScreen = new FullScreenSwitch(*this, {ToolBar1, m_formatPanel});
    view->addAction(m_fullScreen->action());
    view->addSeparator();
    m_curve = new QualityCurveWindow(m_engine, *m_formatPanel, this);
    m_curveAction = view->addAction(tr("Size–quality &curve…"), this, [this] {
        m_curve->show();
        m_curve->raise();
    });
    m_curveAction->setObjectName("quality_curve");
}

void TForm1::Options1Click() {
    Toptions dialog(m_engine.options, this);
    if (dialog.exec() != QDialog::Accepted) return;
    m_engine.options = dialog.applied(m_engine.options);
    Panel4->setZoomFactor(m_engine.options.ZoomFactor);
    applyToolbarCaptions();
    if (!m_settingsFiles.settings.isOpen()) return;
    if (const auto failure =
            settings::SaveProgramOptions(m_settingsFiles.settings, settingsFields())) {
        showMessage(engine::MessageKind::Error,
                    std::string(settings::kSettingsWriteFailed) + *failure,
                    engine::MessageButtons::Ok);
    }
}

// With captions the toolbar's buttons show their text under the picture and
// are 59 pixels square; without, only the picture, 32 pixels square.
void TForm1::applyToolbarCaptions() {
    const bool captions = m_engine.options.ShowCaptions;
    ToolBar1->setToolButtonStyle(captions ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    ModeButton->setToolButtonStyle(ToolBar1->toolButtonStyle());
    // At least square; a longer caption widens its button rather than being cut.
    const int side = captions ? 59 : 32;
    for (QAction* action : ToolBar1->actions()) {
        QWidget* button = ToolBar1->widgetForAction(action);
        if (!button || button == ModeButton) continue;
        const int textWidth = button->fontMetrics().horizontalAdvance(action->iconText()) + 16;
        button->setMinimumSize(captions ? std::max(side, textWidth) : side, side);
        button->setMaximumSize(captions ? QWIDGETSIZE_MAX : side, side);
    }
}

void TForm1::sourceReplaced() {
    m_formatPanel->sourceChanged();
    m_curve->sourceChanged();
    showSettings();
}

void TForm1::Timer1Timer() {
    std::vector<std::string> arguments;
    for (const QString& argument : m_arguments) arguments.push_back(argument.toStdString());
    const app::StartupFacts facts{
        .libraryVersion = engine::LibraryVersionText(),
        .arguments = std::move(arguments),
        .isFile = [](const std::string& path) { return QFileInfo(Qs(path)).isFile(); },
        .options = &m_engine.options,
        .now = m_environment.now,
        .updateCheckAvailable = !m_environment.webSite->empty()};
    app::RunStartupSteps(
        facts,
        {.warn =
             [this](const std::string& text) {
                 showMessage(engine::MessageKind::Warning, text, engine::MessageButtons::Ok);
             },
         .attachLibraryCallbacks =
             [this] {
                 m_engine.AttachLibraryCallbacks([this](int value) { libraryProgress(value); });
             },
         .loadSettings = [this] { loadSettings(); },
         .openFile = [this](const std::string& path) { openFile(Qs(path)); },
         .sendToBatch = [this](const std::vector<std::string>& paths) { openInBatch(paths); },
         .startUpdateCheck = [this] { Checkforupdates1Click(false); }});
    emit startedUp();
}

void TForm1::loadSettings() {
    m_engine.ResultStale = false;
    m_presetModel->resetPresets(optimizers::SetUpOptimizerPresets(
        m_settingsFiles.externalTools, m_settingsFiles.settings, m_engine.settings));
    m_runner->Attach(m_engine);
    if (m_settingsFiles.settings.isOpen()) {
        settings::LoadSettings(m_settingsFiles.settings, settingsFields(), *m_environment.folders,
                               *this);
    }
    showSettings();
    automat->setChecked(m_engine.options.AutomaticPreview);
    automatClick(m_engine.options.AutomaticPreview);
    Panel4->setZoomFactor(m_engine.options.ZoomFactor);
    Panel4->setFitOnlyBig(m_window.FitOnlyBig);
    Panel4->setDualView(m_window.DualView);
}

void TForm1::f_SettingsChanged() {
    if (m_window.SuppressSettingsEvents || !m_engine.Interactive) return;
    m_engine.MarkResultStale();
    if (m_engine.options.AutomaticPreview) m_engine.PreviewImage();
    if (engine::IsAutomatic(m_engine.settings.Mode))
        ModePupupClick(engine::OptimizationMode::Manual);
}

void TForm1::ModePupupClick(engine::OptimizationMode mode) {
    const engine::OptimizationMode old = m_engine.settings.Mode;
    m_engine.settings.Mode = mode;
    const int entry = engine::ModeNumber(mode);
    for (int i = 0; i < 4; ++i) m_modeEntries[i]->setChecked(i == entry);
    ModeButton->setText(m_modeEntries[entry]->text());
    if (!m_engine.SourceBitmap || mode == old || !engine::IsAutomatic(mode)) return;
    engine::ChooseAutomaticSettings(m_engine, mode);
    showSettings();
    if (m_engine.options.AutomaticPreview) m_engine.PreviewImage();
}

// Without automatic preview a change only marks the result stale; the
// preview command brings it up to date.
void TForm1::automatClick(bool on) {
    m_engine.options.AutomaticPreview = on;
    preview_btn->setEnabled(!on && m_engine.SourceBitmap);
}

void TForm1::updateSaveActions() {
    m_imageCommands->update();
    m_optimizerGroup->updateActions();
    updatePasteAction();
    const bool result = m_engine.ResultStream && m_engine.SourceBitmap && !m_engine.ResultStale;
    m_saveAs->setEnabled(result);
    m_save->setEnabled(result && m_engine.ResultUnsaved);
    m_curveAction->setEnabled(m_engine.SourceBitmap && !m_engine.Busy());
}

}  // namespace pimo::ui
