#include "ui/batch_window.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "batch/batch_runner.h"
#include "batch/batch_summary.h"
#include "engine/open_filter.h"
#include "settings/ini_store.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "util/pimoutil.h"

namespace pimo::ui {

namespace {

constexpr int kTaskCount = 4;
constexpr const char* kTaskNames[kTaskCount] = {"Rotate", "Flip", "Resize", "Compress to size"};
constexpr const char* kTaskPanelNames[kTaskCount] = {"cat_rotate", "cat_flip", "cat_resize",
                                                     "cat_compress2size"};

QComboBox* Choice(const char* name, const QStringList& items) {
    auto* box = new QComboBox;
    box->setObjectName(name);
    box->addItems(items);
    return box;
}

QLineEdit* DigitsEdit(const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), edit));
    return edit;
}

// A toolbar button that opens `menu` when pressed.
QToolButton* MenuButton(const QString& text, const char* name, QMenu* menu) {
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setText(text);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    return button;
}

QString NumberText(int value) {
    return value == 0 ? QString() : QString::number(value);
}

}  // namespace

Tbatch::Tbatch(engine::Engine& engine, settings::IniStore& store, BatchDialogs dialogs,
               QWidget* parent)
    : QDialog(parent), m_engine(engine), m_store(store), m_dialogs(std::move(dialogs)) {
    setWindowTitle(tr("Batch optimizer"));
    setObjectName("batch");
    m_model = new BatchListModel(BatchItems, this);

    auto* layout = new QVBoxLayout(this);
    buildToolBar();
    layout->addWidget(m_toolBar);
    buildTaskPanels();
    layout->addWidget(CategoryPanelGroup1);
    buildOutputOptions();
    layout->addWidget(Panel2);

    ListView1 = new QTableView;
    ListView1->setObjectName("ListView1");
    ListView1->setModel(m_model);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    // The status column fits the longest status the runner writes.
    ListView1->setColumnWidth(
        1, fontMetrics().horizontalAdvance("-100.00% decrease,overwritten,deleted") + 16);
    // Eight rows at least, with every task panel open.
    ListView1->setMinimumHeight(8 * ListView1->verticalHeader()->defaultSectionSize() +
                                ListView1->horizontalHeader()->sizeHint().height() + 4);
    layout->addWidget(ListView1, 1);
    auto* remove = new QShortcut(QKeySequence::Delete, ListView1, [this] { removeSelected(); });
    remove->setContext(Qt::WidgetShortcut);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        ActionSelectPath->setEnabled(ListView1->selectionModel()->selectedRows().size() == 1);
    });

    auto* bottom = new QHBoxLayout;
    output_path = new QLineEdit;
    output_path->setObjectName("output_path");
    m_browse = new QPushButton("...");
    m_browse->setObjectName("browse_output_path");
    m_browse->setFixedWidth(m_browse->fontMetrics().horizontalAdvance("...") + 24);
    auto* selectPath = new QToolButton;
    selectPath->setDefaultAction(ActionSelectPath);
    btn_start = new QPushButton(tr("Start"));
    btn_start->setObjectName("btn_start");
    btn_start->setEnabled(false);
    ProgressBar1 = new QProgressBar;
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    bottom->addWidget(new QLabel(tr("Output folder:")));
    bottom->addWidget(output_path, 1);
    bottom->addWidget(m_browse);
    bottom->addWidget(selectPath);
    bottom->addWidget(btn_start);
    m_runDescription = new QLabel;
    m_runDescription->setObjectName("run_description");
    m_runDescription->setWordWrap(true);
    layout->addWidget(m_runDescription);
    layout->addLayout(bottom);
    layout->addWidget(ProgressBar1);
    m_runSummary = new QLabel;
    m_runSummary->setObjectName("run_summary");
    m_runSummary->setWordWrap(true);
    m_runSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_runSummary);
    connect(m_browse, &QPushButton::clicked, this, [this] {
        const QString folder = m_dialogs.askFolder(tr("Output folder:"), output_path->text());
        if (!folder.isEmpty()) output_path->setText(QDir::toNativeSeparators(folder));
    });
    connect(btn_start, &QPushButton::clicked, this, &Tbatch::btn_startClick);

    setAcceptDrops(true);
    resize(760, 640);
    bindOptions();
    showOptions(batch::ReadBatchSettings(m_store));
    UpdateFileCount();
}

void Tbatch::buildToolBar() {
    m_toolBar = new QToolBar;
    m_toolBar->setObjectName("ToolBar1");

    m_taskMenu = new QMenu(this);
    for (int task = 0; task < kTaskCount; ++task) {
        QAction* item = m_taskMenu->addAction(tr(kTaskNames[task]));
        item->setCheckable(true);
        item->setData(task);
        item->setObjectName(QString("task_%1").arg(task));
        connect(item, &QAction::toggled, this, [this, task](bool on) { ShowTask(task, on); });
        m_taskActions << item;
    }
    m_taskMenu->addSeparator();
    QAction* clear = m_taskMenu->addAction(tr("Clear all tasks"), this, [this] {
        for (int task = 0; task < kTaskCount; ++task) ShowTask(task, false);
    });
    clear->setObjectName("clear_tasks");
    m_toolBar->addWidget(MenuButton(tr("Tasks"), "add_task", m_taskMenu));

    auto* addMenu = new QMenu(this);
    addMenu->addAction(tr("Add images..."), this, &Tbatch::addImages)->setObjectName("add_images");
    addMenu->addAction(tr("Add a whole folder..."), this, [this] { AddFolder(false); })
        ->setObjectName("add_folder");
    addMenu
        ->addAction(tr("Add a folder including subfolders..."), this, [this] { AddFolder(true); })
        ->setObjectName("add_folder_recursive");
    m_toolBar->addWidget(MenuButton(tr("Add"), "ToolButton1", addMenu));

    m_toolBar->addAction(tr("Remove selected"), this, &Tbatch::removeSelected)
        ->setObjectName("remove_selected");
    btn_remove_all = m_toolBar->addAction(tr("Remove all"), this, &Tbatch::removeAll);
    btn_remove_all->setObjectName("btn_remove_all");
    btn_remove_all->setEnabled(false);
    m_toolBar->addAction(tr("Settings"), this, [this] { Panel2->show(); })
        ->setObjectName("settings");

    ActionSelectPath = new QAction(tr("Use the selected file's folder"), this);
    ActionSelectPath->setObjectName("ActionSelectPath");
    ActionSelectPath->setEnabled(false);
    connect(ActionSelectPath, &QAction::triggered, this, &Tbatch::selectPathFromEntry);
}

void Tbatch::buildTaskPanels() {
    CategoryPanelGroup1 = new QWidget;
    CategoryPanelGroup1->setObjectName("CategoryPanelGroup1");
    auto* group = new QVBoxLayout(CategoryPanelGroup1);
    group->setContentsMargins(0, 0, 0, 0);
    for (int task = 0; task < kTaskCount; ++task) {
        m_taskPanels[task] = new QGroupBox(tr(kTaskNames[task]));
        m_taskPanels[task]->setObjectName(kTaskPanelNames[task]);
        m_taskPanels[task]->hide();
        group->addWidget(m_taskPanels[task]);
    }

    rotate_angle = Choice("rotate_angle", {tr("90 degrees"), tr("180 degrees"), tr("270 degrees")});
    rotate_direction = Choice("rotate_direction", {tr("Counter-clockwise"), tr("Clockwise")});
    auto* rotate = new QHBoxLayout(m_taskPanels[0]);
    rotate->addWidget(rotate_angle);
    rotate->addWidget(rotate_direction);
    rotate->addStretch();

    flip_type = Choice("flip_type", {tr("Vertical flip"), tr("Horizontal flip")});
    auto* flip = new QHBoxLayout(m_taskPanels[1]);
    flip->addWidget(flip_type);
    flip->addStretch();

    resize_w = DigitsEdit("resize_w");
    resize_h = DigitsEdit("resize_h");
    resize_opt_pixels = new QRadioButton(tr("pixels"));
    resize_opt_pixels->setObjectName("resize_opt_pixels");
    resize_opt_pixels->setChecked(true);
    resize_opt_percent = new QRadioButton(tr("percent"));
    resize_opt_percent->setObjectName("resize_opt_percent");
    keep_aspect = new QCheckBox(tr("Keep aspect ratio"));
    keep_aspect->setObjectName("keep_aspect");
    keep_aspect->setChecked(true);
    filter = Choice("filter", {tr("Lanczos3 (slowest)"), tr("Catmull-Rom (slow)"),
                               tr("Mitchell-Netravali bicubic"), tr("B-spline"),
                               tr("Bilinear (fast)"), tr("Box (fastest)")});
    auto* resize = new QHBoxLayout(m_taskPanels[2]);
    for (QWidget* control :
         {static_cast<QWidget*>(new QLabel(tr("Width:"))), static_cast<QWidget*>(resize_w),
          static_cast<QWidget*>(new QLabel(tr("Height:"))), static_cast<QWidget*>(resize_h),
          static_cast<QWidget*>(resize_opt_pixels), static_cast<QWidget*>(resize_opt_percent),
          static_cast<QWidget*>(keep_aspect), static_cast<QWidget*>(filter)})
        resize->addWidget(control);
    // Only the user's own typing mirrors; text the program sets does not.
    connect(resize_w, &QLineEdit::textEdited, this,
            [this](const QString& text) { mirrorResizeText(resize_h, text); });
    connect(resize_h, &QLineEdit::textEdited, this,
            [this](const QString& text) { mirrorResizeText(resize_w, text); });
    connect(resize_opt_percent, &QRadioButton::clicked, this, &Tbatch::setResizeToHalf);
    connect(keep_aspect, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked && resize_opt_percent->isChecked()) setResizeToHalf();
    });

    compress2size_value = new QLineEdit;
    compress2size_value->setObjectName("compress2size_value");
    auto* compress = new QHBoxLayout(m_taskPanels[3]);
    compress->addWidget(new QLabel(tr("Largest file size (KiB):")));
    compress->addWidget(compress2size_value);
    compress->addStretch();
    CategoryPanelGroup1->hide();
}

void Tbatch::buildOutputOptions() {
    Panel2 = new QWidget;
    Panel2->setObjectName("Panel2");
    auto* layout = new QVBoxLayout(Panel2);
    CheckListBox1 = new QListWidget;
    CheckListBox1->setObjectName("CheckListBox1");
    for (const char* text :
         {"Overwrite existing files", "Delete the original files after processing",
          "Keep the original date and time", "Save in the original folder",
          "Back up the original when overwriting"}) {
        auto* item = new QListWidgetItem(tr(text), CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    auto* apply = new QPushButton(tr("Apply"));
    apply->setObjectName("apply_settings");
    connect(apply, &QPushButton::clicked, Panel2, &QWidget::hide);
    layout->addWidget(CheckListBox1);
    layout->addWidget(apply);
    Panel2->hide();
}

std::string Tbatch::readableExtensions() const {
    return engine::ReadableExtensions(m_engine.settings.Mode);
}

bool Tbatch::AddFile(const std::string& path) {
    return batch::AddFile(BatchItems, path, readableExtensions());
}

void Tbatch::AddFolder(bool recursive, const QString& folder) {
    QString chosen = folder;
    if (chosen.isEmpty()) {
        chosen = m_dialogs.askFolder(tr("Add all images from folder:"), QString());
        if (chosen.isEmpty()) return;
    }
    if (!QFileInfo(chosen).isDir()) return;
    SetBatchControlsEnabled(false);
    btn_start->setEnabled(false);
    ProgressBar1->setRange(0, 0);  // busy, without a known end
    // The library tells the user when the folder added nothing.
    DialogHost host(this);
    batch::AddFolder(BatchItems, chosen.toStdString(), recursive, readableExtensions(), host);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    SetBatchControlsEnabled(true);
    UpdateFileCount();
}

void Tbatch::UpdateFileCount() {
    m_model->reload();
    const bool any = !BatchItems.empty();
    btn_start->setEnabled(any);
    btn_remove_all->setEnabled(any);
}

void Tbatch::SetBatchControlsEnabled(bool enabled) {
    for (QWidget* control :
         {static_cast<QWidget*>(m_toolBar), static_cast<QWidget*>(CheckListBox1),
          static_cast<QWidget*>(output_path), static_cast<QWidget*>(m_browse),
          static_cast<QWidget*>(ListView1), static_cast<QWidget*>(CategoryPanelGroup1)})
        control->setEnabled(enabled);
}

void Tbatch::ShowTask(int index, bool visible) {
    if (index < 0 || index >= kTaskCount) return;
    m_taskPanels[index]->setVisible(visible);
    *taskOption(index) = visible;
    {
        const QSignalBlocker block(m_taskActions[index]);
        m_taskActions[index]->setChecked(visible);
    }
    bool any = false;
    for (const QGroupBox* panel : m_taskPanels) any = any || !panel->isHidden();
    CategoryPanelGroup1->setVisible(any);
}

// Each control writes its field of the options as it changes; the options
// are never read back from the controls.
void Tbatch::bindOptions() {
    const auto choice = [this](QComboBox* box, int batch::BatchOptions::*field) {
        connect(box, &QComboBox::currentIndexChanged, this,
                [this, field](int index) { m_options.*field = index; });
    };
    choice(rotate_angle, &batch::BatchOptions::RotateAngle);
    choice(rotate_direction, &batch::BatchOptions::RotateDirection);
    choice(flip_type, &batch::BatchOptions::FlipType);
    choice(filter, &batch::BatchOptions::ResizeFilter);
    const auto number = [this](QLineEdit* edit, int batch::BatchOptions::*field) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, field](const QString& text) { m_options.*field = text.toInt(); });
    };
    number(resize_w, &batch::BatchOptions::ResizeWidth);
    number(resize_h, &batch::BatchOptions::ResizeHeight);
    connect(compress2size_value, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_options.SizeThreshold = text.toStdString(); });
    connect(output_path, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_options.OutputPath = text.toStdString(); });
    connect(resize_opt_percent, &QRadioButton::toggled, this,
            [this](bool on) { m_options.ResizePercent = on; });
    connect(keep_aspect, &QCheckBox::toggled, this,
            [this](bool on) { m_options.ResizeKeepAspect = on; });
    connect(CheckListBox1, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        *outputOption(CheckListBox1->row(item)) = item->checkState() == Qt::Checked;
    });
}

bool* Tbatch::outputOption(int row) {
    bool* const rows[] = {&m_options.OverwriteExistingFiles, &m_options.DeleteOriginalFiles,
                          &m_options.KeepOriginalDateTime, &m_options.SaveInOriginalFolder,
                          &m_options.BackupOnOverwrite};
    static bool ignored = false;
    return row >= 0 && row < 5 ? rows[row] : &ignored;
}

bool* Tbatch::taskOption(int task) {
    bool* const tasks[kTaskCount] = {&m_options.TaskRotate, &m_options.TaskFlip,
                                     &m_options.TaskResize, &m_options.TaskCompressToSize};
    return tasks[task];
}

void Tbatch::showOptions(const batch::BatchOptions& options) {
    m_options = options;
    std::vector<std::unique_ptr<QSignalBlocker>> blocks;
    for (QObject* control : std::initializer_list<QObject*>{
             rotate_angle, rotate_direction, flip_type, filter, resize_w, resize_h,
             compress2size_value, output_path, resize_opt_percent, resize_opt_pixels, keep_aspect,
             CheckListBox1})
        blocks.push_back(std::make_unique<QSignalBlocker>(control));
    rotate_angle->setCurrentIndex(options.RotateAngle);
    rotate_direction->setCurrentIndex(options.RotateDirection);
    flip_type->setCurrentIndex(options.FlipType);
    resize_w->setText(NumberText(options.ResizeWidth));
    resize_h->setText(NumberText(options.ResizeHeight));
    (options.ResizePercent ? resize_opt_percent : resize_opt_pixels)->setChecked(true);
    keep_aspect->setChecked(options.ResizeKeepAspect);
    filter->setCurrentIndex(options.ResizeFilter);
    compress2size_value->setText(Qs(options.SizeThreshold));
    for (int row = 0; row < 5; ++row)
        CheckListBox1->item(row)->setCheckState(*outputOption(row) ? Qt::Checked : Qt::Unchecked);
    output_path->setText(Qs(options.OutputPath));
    blocks.clear();
    for (int task = 0; task < kTaskCount; ++task) ShowTask(task, *taskOption(task));
}

// The resize choices follow the main window's resample settings each time
// the window is shown.
void Tbatch::showEvent(QShowEvent* event) {
    batch::BatchOptions current = m_options;
    batch::ApplyResampleSettings(current, m_engine.settings);
    showOptions(current);
    const std::string optimizer = optimizerName ? optimizerName() : std::string();
    m_runDescription->setText(
        tr("Output: %1").arg(Qs(batch::RunDescription(m_engine.settings, optimizer))));
    QDialog::showEvent(event);
}

void Tbatch::done(int result) {
    if (m_running) {  // the run ends first, before its next entry
        m_stopRequested = true;
        return;
    }
    try {
        batch::WriteBatchSettings(m_store, m_options, m_engine.settings);
    } catch (const std::exception& error) {
        ShowMessageBox(this, engine::MessageKind::Error,
                       std::string(settings::kSettingsWriteFailed) + error.what(),
                       engine::MessageButtons::Ok);
    }
    QDialog::done(result);
    emit batchClosed();
}

void Tbatch::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_running && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void Tbatch::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        const QFileInfo dropped(url.toLocalFile());
        if (dropped.isFile()) {
            AddFile(dropped.filePath().toStdString());
        } else if (dropped.isDir()) {
            AddFolder(true, dropped.filePath());
        }
    }
    event->acceptProposedAction();
    UpdateFileCount();
}

// Every chosen file that exists is added, whatever its extension.
void Tbatch::addImages() {
    for (const QString& path : m_dialogs.askImageFiles()) {
        if (QFileInfo(path).isFile()) BatchItems.push_back({path.toStdString(), ""});
    }
    UpdateFileCount();
}

void Tbatch::removeSelected() {
    if (m_running) return;
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    batch::RemoveEntries(BatchItems, std::move(rows));
    ListView1->clearSelection();
    UpdateFileCount();
}

void Tbatch::removeAll() {
    if (m_running) return;
    BatchItems.clear();
    UpdateFileCount();
}

void Tbatch::selectPathFromEntry() {
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    if (rows.size() != 1) return;
    const QFileInfo entry(Qs(BatchItems[static_cast<std::size_t>(rows.front().row())].FilePath));
    output_path->setText(QDir::toNativeSeparators(entry.absolutePath() + '/'));
}

// With percent and kept aspect, the other size follows the user's typing.
void Tbatch::mirrorResizeText(QLineEdit* other, const QString& text) {
    if (!resize_opt_percent->isChecked() || !keep_aspect->isChecked()) return;
    other->setText(text);
    other->setModified(false);
}

void Tbatch::setResizeToHalf() {
    resize_w->setText("50");
    resize_h->setText("50");
}

void Tbatch::btn_startClick() {
    if (m_running) {
        m_stopRequested = true;
        return;
    }
    batch::BatchOptions current = m_options;
    DialogHost host(this);
    const std::optional<batch::BatchJob> job =
        batch::PrepareBatchRun(current, m_engine.settings, readableExtensions(), host,
                               util::CurrentNumberSeparators().decimal);
    compress2size_value->setText(Qs(current.SizeThreshold));  // as the checks normalised it
    if (!job) return;

    ProgressBar1->setRange(0, static_cast<int>(BatchItems.size()));
    ProgressBar1->setValue(0);
    m_runSummary->clear();
    m_running = true;
    m_stopRequested = false;
    btn_start->setText(tr("Stop"));
    SetBatchControlsEnabled(false);

    batch::BatchCallbacks callbacks;
    callbacks.listReordered = [this] { m_model->reload(); };
    callbacks.entryStarting = [this](std::size_t index) {
        QApplication::processEvents();
        ListView1->scrollTo(m_model->index(static_cast<int>(index), 0));
    };
    callbacks.stopRequested = [this] { return m_stopRequested; };
    callbacks.statusChanged = [this](std::size_t index, const batch::TBatchItem&) {
        m_model->rowChanged(static_cast<int>(index));
    };
    callbacks.progressed = [this](std::size_t done) {
        ProgressBar1->setValue(static_cast<int>(done));
    };

    batch::BatchRunSummary summary;
    try {
        summary = batch::RunBatch(m_engine, BatchItems, *job, callbacks);
    } catch (const std::exception& error) {
        summary.ErrorLog.push_back(std::string("The run stopped: ") + error.what());
    }
    ProgressBar1->setValue(0);
    m_running = false;
    SetBatchControlsEnabled(true);
    btn_start->setText(tr("Start"));
    // The bar is back at zero: the totals say what the run did.
    m_runSummary->setText((summary.stopped ? tr("Stopped: ") : QString()) +
                          Qs(batch::BatchSummaryText(summary.totals)));
    if (!summary.ErrorLog.empty()) showErrorLog(summary.ErrorLog);
}

void Tbatch::showErrorLog(const std::vector<std::string>& lines) {
    QDialog log(this);
    log.setObjectName("error_log");
    log.setWindowTitle(tr("Error log"));
    log.resize(500, 300);
    auto* text = new QPlainTextEdit(&log);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList all;
    for (const std::string& line : lines) all << Qs(line);
    text->setPlainText(all.join('\n'));
    auto* layout = new QVBoxLayout(&log);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
    log.exec();
}

}  // namespace pimo::ui
