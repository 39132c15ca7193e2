#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/startup_steps.h"
#include "engine/automatic_settings.h"
#include "engine/clipboard_dib.h"
#include "engine/open_filter.h"
#include "engine/save_plan.h"
#include "engine/source_adjustments.h"
#include "platform/local_time.h"
#include "settings/settings_keys.h"
#include "settings/settings_store.h"
#include "ui/about_box.h"
#include "ui/bitmap_image.h"
#include "ui/dialog_filter.h"
#include "ui/icons.h"
#include "ui/message_box.h"
#include "ui/optimizer_group.h"
#include "ui/optimizer_preset_model.h"
#include "ui/options_dialog.h"
#include "ui/window_placement.h"
#include "util/product.h"
#include "util/third_party_notices.h"

namespace pimo::ui {

namespace {
constexpr const char* kNoImageTitle = "PIMO - No image loaded";

}  // namespace

TForm1::TForm1(QStringList arguments, WindowEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      m_environment(CompletedEnvironment(std::move(environment))),
      m_engine(*this),
      m_arguments(std::move(arguments)) {
    buildWidgets();
    buildActions();
    buildHelpMenu();
    applyToolbarCaptions();
    setAcceptDrops(true);
    setWindowTitle(kNoImageTitle);
    m_window.CaptionsOffReaction = [this] { applyToolbarCaptions(); };
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
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    Panel4 = new ImageView;
    layout->addWidget(Panel4, 1);
    connect(Panel4, &ImageView::zoomTextChanged, this,
            [this](const QString& text) { m_statusPanels[0]->setText(text); });
    m_scorer = new ResultScorer(this);
    connect(m_scorer, &ResultScorer::textChanged, Panel4, &ImageView::setQualityText);

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
}

// Over status panel 1, hidden until the library starts a long call.
void TForm1::buildProgressBar() {
    m_progressBar = new QProgressBar(statusBar());
    m_progressBar->setObjectName("ProgressBar");
    m_progressBar->setRange(0, 10000);
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();
}

void TForm1::libraryProgress(int value) {
    if (value == 0) {
        ProgressTimer.start();
        m_progressBar->setValue(0);
        m_progressBar->setGeometry(m_statusPanels[1]->geometry());
        m_progressBar->show();
        m_progressBar->raise();
        return;
    }
    if (value == 10000) {
        ProgressTimer.stop();
        m_progressBar->setValue(0);
        m_progressBar->hide();
        return;
    }
    processPendingEvents();
    if (m_progressTick) {
        m_progressBar->setValue(value);
        m_progressTick = false;
    }
}

void TForm1::buildActions() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    ToolBar1 = addToolBar(tr("Main"));
    ToolBar1->setObjectName("ToolBar1");
    QToolBar* tools = ToolBar1;

    QAction* open = file->addAction(tr("&Open..."), this, &TForm1::open_btnClick);
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    m_paste = file->addAction(tr("&Paste"), this, &TForm1::PasteFromClipboard);
    m_paste->setObjectName("Paste1");
    m_paste->setShortcut(QKeySequence::Paste);
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TForm1::updatePasteAction);
    updatePasteAction();
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
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setObjectName("Quit1");
    quit->setShortcut(QKeySequence(Qt::Key_Escape));
    tools->addAction(open);
    tools->addAction(m_paste);
    tools->addAction(m_save);
    tools->addAction(m_saveAs);

    // The optimization modes, in menu order; the button shows the current one.
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
    tools->addSeparator();
    tools->addWidget(ModeButton);

    m_imageCommands = new ImageCommands(m_engine, *this, m_environment.askText,
                                        {[this] { sourceReplaced(); }, [this] { showSettings(); }});
    m_imageCommands->addTo(menuBar()->addMenu(tr("&Image")), tools);

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
    preview_btn = new QAction(tr("Preview"), this);
    preview_btn->setObjectName("preview_btn");
    connect(preview_btn, &QAction::triggered, this, preview);
    tools->addAction(preview_btn);
    buildViewMenu();
    const std::pair<QAction*, const char*> icons[] = {
        {open, "open"},          {m_paste, "paste"},      {m_save, "save"},
        {m_saveAs, "save_as"},   {batchCommand, "batch"}, {options, "options"},
        {preview_btn, "preview"}};
    for (const auto& [action, icon] : icons) action->setIcon(ToolbarIcon(icon));
    ModeButton->setIcon(ToolbarIcon("mode"));
    updateSaveActions();
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
}

// Without a web site the help is the documentation installed with the
// program, and the site's links and the update check are not offered.
void TForm1::buildHelpMenu() {
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    if (m_environment.webSite->empty()) {
        QAction* documentation =
            help->addAction(tr("&Documentation"), this, &TForm1::openInstalledDocumentation);
        documentation->setObjectName("Help2");
    } else {
        QAction* documentation =
            help->addAction(tr("Online &documentation"), this, [this] { openWebPage("/docs"); });
        documentation->setObjectName("Help2");
        QAction* site =
            help->addAction(tr("Visit official &website"), this, [this] { openWebPage(""); });
        site->setObjectName("Visitofficialwebsite1");
        QAction* news = help->addAction(tr("&News"), this, [this] { openWebPage("/feed/"); });
        news->setObjectName("News1");
        help->addSeparator();
        QAction* check = help->addAction(tr("Check for &updates"), this,
                                         [this] { Checkforupdates1Click(true); });
        check->setObjectName("Checkforupdates1");
    }
    help->addSeparator();
    QAction* about = help->addAction(tr("&About..."), this, &TForm1::showAboutBox);
    about->setObjectName("About1");
}

void TForm1::showAboutBox() {
    TAboutBox box({Qs(std::string(kProductName)), Qs(std::string(kProductVersion)),
                   Qs(engine::LibraryVersionText())},
                  Qs(std::string(pimo::ThirdPartyNotices())), this);
    box.exec();
}

bool TForm1::EnterBatchMode() {
    if (m_engine.SourceBitmap) {
        if (showMessage(engine::MessageKind::Confirmation,
                        "To use the Batch Optimizer I need to unload the current image\nProceed ?",
                        engine::MessageButtons::YesNo) != engine::MessageAnswer::Yes) {
            return false;
        }
        m_engine.UnloadImage();  // shows the no-image state
    }
    if (!m_batch) {
        m_batch = new Tbatch(m_engine, m_settingsFiles.settings, m_environment.batchDialogs, this);
        connect(m_batch, &Tbatch::batchClosed, this, &TForm1::leaveBatchMode);
        m_batch->optimizerName = [this] {
            return m_presetModel->itemText(m_engine.settings.PNGOptimizer).toStdString();
        };
    }
    hide();
    m_engine.Interactive = false;
    m_window.SuppressSettingsEvents = true;
    return true;
}

void TForm1::leaveBatchMode() {
    show();
    m_window.SuppressSettingsEvents = false;
    m_engine.Interactive = true;
    m_engine.NotifyStateChanged();  // the batch run may have left an image behind
}

void TForm1::btn_batchClick() {
    if (EnterBatchMode()) m_batch->exec();
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

void TForm1::openWebPage(std::string_view path) {
    m_environment.openUrl(*m_environment.webSite + std::string(path));
}

void TForm1::openInstalledDocumentation() {
    for (const std::string_view readme : {kInstalledReadme, kSourceReadme}) {
        const QString path = Qs(std::string(readme));
        if (!QFileInfo::exists(path)) continue;
        m_environment.openUrl(QUrl::fromLocalFile(path).toString().toStdString());
        return;
    }
    showMessage(engine::MessageKind::Error, "The documentation is not installed.",
                engine::MessageButtons::Ok);
}

// The request runs on a thread of its own, so the window stays responsive;
// the outcome is told on the window's thread. The check counts as done when
// it starts, whatever comes of it.
void TForm1::Checkforupdates1Click(bool manual) {
    if (m_environment.webSite->empty()) return;
    update::Check4Updates check{manual};
    check.webSite = *m_environment.webSite;
    m_updateChecks.emplace_back(
        [this, check, fetchText = m_environment.fetchText](std::stop_token stop) {
            const update::UpdateCheckOutcome outcome =
                check.fetchAndCompare([&](const std::string& url) { return fetchText(url, stop); });
            if (stop.stop_requested()) return;
            QMetaObject::invokeMethod(
                this,
                [this, check, outcome] {
                    check.report(*this, outcome, m_environment.openUrl);
                    emit updateCheckReported();
                },
                Qt::QueuedConnection);
        });
    m_engine.options.LastUpdateCheck = m_environment.now();
    if (const settings::SettingsKey* key = settings::FindSettingsKey("LastUpdateCheck");
        key && m_settingsFiles.settings.isOpen()) {
        settings::StoreKey(m_settingsFiles.settings, *key, settingsFields());
    }
}

void TForm1::sourceReplaced() {
    m_formatPanel->sourceChanged();
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

// Several files: the batch window takes those it can read; this window stays
// hidden unless none is left.
void TForm1::openInBatch(const std::vector<std::string>& paths) {
    if (!EnterBatchMode()) return;
    for (const std::string& path : paths) m_batch->AddFile(path);
    m_batch->UpdateFileCount();
    if (m_batch->items().empty()) {
        leaveBatchMode();  // nothing to optimize: rather than no window at all
    } else {
        m_batch->show();
    }
}

bool TForm1::openFile(const QString& path) {
    if (m_engine.Busy()) return false;
    const bool loaded = m_engine.LoadImageFile(path.toStdString());
    sourceReplaced();  // the automatic modes chose settings for this image
    return loaded;
}

void TForm1::open_btnClick() {
    const engine::OpenFilter types = engine::OpenFilterForMode(m_engine.settings.Mode);
    // The user's Pictures folder, else home, until the dialog remembers a folder.
    const QString start = QString::fromStdString(
        platform::PathToUtf8(platform::DefaultPicturesFolder(*m_environment.folders)));
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open image"), start, DialogFilter(types.filter));
    if (!path.isEmpty()) openFile(path);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    // After the drop has ended: a question asked inside it would hold the
    // program the files came from until the user answers.
    QTimer::singleShot(0, this, [this, paths] { filesDropped(paths); });
}

void TForm1::filesDropped(const QStringList& paths) {
    if (m_engine.Busy()) return;
    if (paths.size() == 1) {
        openFile(paths.front());
        return;
    }
    if (paths.size() < 2 || !EnterBatchMode()) return;
    for (const QString& path : paths) m_batch->AddFile(path.toStdString());
    m_batch->UpdateFileCount();
    m_batch->show();
}

void TForm1::SaveResult(bool saveAs) {
    if (m_engine.Busy()) return;
    if (engine::AsksForHigherPngCompression(m_engine.settings) &&
        showMessage(engine::MessageKind::Confirmation,
                    std::string(engine::kLowPngCompressionQuestion),
                    engine::MessageButtons::YesNo) == engine::MessageAnswer::Yes) {
        // Written at the new level: the result is made again before it is saved.
        m_engine.settings.PNGCompressionType = engine::kRecommendedPngCompression;
        m_engine.MarkResultStale();
    }
    const engine::SavePlan plan =
        engine::PlanSave({.saveAs = saveAs,
                          .format = m_engine.settings.Format,
                          .sourceFormat = m_engine.SourceFormat,
                          .sourcePath = m_engine.SourcePath,
                          .saveAsFolder = m_engine.options.SaveAsFolder,
                          .showDialogOnSave = m_engine.options.ShowDialogOnSave},
                         [](const std::string& path) { return QFileInfo::exists(Qs(path)); });

    std::string target;
    if (plan.offerReplace &&
        showMessage(engine::MessageKind::Confirmation, plan.replaceQuestion,
                    engine::MessageButtons::YesNo) == engine::MessageAnswer::Yes) {
        target = plan.besideSource;
    } else {
        target =
            m_environment
                .askSaveFileName(Qs(plan.caption), Qs(plan.dialogStart), Qs(plan.format.filter))
                .toStdString();
    }
    if (target.empty()) return;  // cancelled
    target = engine::CompletedSaveTarget(target, plan.format);

    if (!m_engine.WriteResultToFile(target, true)) {
        showMessage(engine::MessageKind::Error, "Failed to write " + target,
                    engine::MessageButtons::Ok);
    } else if (saveAs) {
        m_engine.options.SaveAsFolder = engine::SaveAsFolderAfter(target);
    } else {
        m_engine.MarkResultSaved();
    }
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
}

// ---- engine::Host ----

void TForm1::setStatusText(const std::string& text, int panel) {
    if (panel >= 0 && panel < 4) m_statusPanels[panel]->setText(Qs(text));
}

void TForm1::setBusyCursor(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

engine::MessageAnswer TForm1::showMessage(engine::MessageKind kind, const std::string& text,
                                          engine::MessageButtons buttons) {
    return ShowMessageBox(this, kind, text, buttons);
}

void TForm1::showBalloon(const std::string& title, const std::string& description, int timeoutMs) {
    const QString text =
        "<b>" + Qs(title).toHtmlEscaped() + "</b>" +
        (description.empty() ? QString()
                             : "<br>" + Qs(description).toHtmlEscaped().replace("\n", "<br>"));
    QToolTip::showText(Panel4->mapToGlobal(Panel4->rect().center()), text, Panel4, {}, timeoutMs);
}

void TForm1::hideBalloon() {
    QToolTip::hideText();
}

void TForm1::processPendingEvents() {
    QApplication::processEvents();
}

// Every command goes quiet while a long call runs: the menus, the toolbars
// and their shortcuts as well as the panels.
void TForm1::setMainWindowEnabled(bool enabled) {
    centralWidget()->setEnabled(enabled);
    menuBar()->setEnabled(enabled);
    for (QToolBar* bar : findChildren<QToolBar*>()) bar->setEnabled(enabled);
}

// "image/png" first, so that transparency survives; else whatever image the
// clipboard offers, handed over as a packed bitmap.
void TForm1::PasteFromClipboard() {
    if (m_engine.Busy()) return;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasImage()) return;
    QByteArray block;
    engine::PasteSourceKind kind = engine::PasteSourceKind::Png;
    if (data->hasFormat("image/png")) {
        block = data->data("image/png");
    } else {
        kind = engine::PasteSourceKind::Dib;
        QBuffer buffer(&block);
        buffer.open(QIODevice::WriteOnly);
        qvariant_cast<QImage>(data->imageData()).save(&buffer, "BMP");
        block.remove(0, 14);  // the file header: what is left is the packed bitmap
    }
    engine::OpenPastedImage(m_engine, kind,
                            std::span(reinterpret_cast<const std::uint8_t*>(block.constData()),
                                      static_cast<std::size_t>(block.size())));
    sourceReplaced();
}

void TForm1::updatePasteAction() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    m_paste->setEnabled(data && data->hasImage() && !m_engine.Busy());
}

void TForm1::showNoImage() {
    m_scorer->clear();
    m_formatPanel->sourceChanged();
    Panel4->clear();
    m_statusPanels[2]->clear();
    preview_btn->setEnabled(false);
    setWindowTitle(kNoImageTitle);
}

void TForm1::showFileInformation(const std::string& caption, const std::string& sizeText,
                                 const std::string& sizeHint) {
    setWindowTitle(Qs(caption));
    Panel4->setSourceSizeText(Qs(sizeText), Qs(sizeHint));
}

void TForm1::showSourceImage(bool actualSize) {
    Panel4->setSourceImage(ToQImage(m_engine.SourceBitmap.get()));
    if (actualSize) {
        Panel4->actual_sizeExecute();
    } else {
        Panel4->fit_in_windowExecute();
    }
}

bool TForm1::showResultImage() {
    if (!m_engine.WorkingBitmap) {
        Panel4->setResultImage({});
        return false;
    }
    const QImage result = ToQImage(m_engine.WorkingBitmap.get());
    Panel4->setResultImage(result);
    return !result.isNull();
}

void TForm1::showResultSize(const std::string& sizeText, const std::string& sizeHint,
                            bool smaller) {
    // Green when the result is smaller than the source, maroon otherwise.
    Panel4->setResultSizeText(Qs(sizeText), Qs(sizeHint),
                              smaller ? QColor(0, 128, 0) : QColor(128, 0, 0));
    // A new result: its score follows when it is ready.
    if (m_engine.options.ShowQualityScore) {
        m_scorer->score(engine::CaptureResultScoreInput(m_engine));
    } else {
        m_scorer->clear();
    }
}

void TForm1::engineStateChanged() {
    updateSaveActions();
}

void TForm1::resampleLargeImage() {
    m_imageCommands->resampleExecute();
}

}  // namespace pimo::ui
