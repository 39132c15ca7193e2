#pragma once
// The batch window: a list of files, optional tasks (rotate, flip, resize,
// compress to size) and output options, run through the main window's
// engine with its current settings. The list, the tasks' record and the run
// are the batch library's; this window binds them to controls.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QToolBar>
#include <functional>

#include "batch/batch_list.h"
#include "batch/batch_settings.h"
#include "engine/engine.h"
#include "settings/ini_store.h"
#include "ui/batch_list_model.h"

namespace pimo::ui {

/// The dialogs the batch window asks through; tests answer them.
struct BatchDialogs {
    /// A folder browser with a caption, starting at a folder; empty when cancelled.
    std::function<QString(const QString& caption, const QString& start)> askFolder;
    /// The open-picture dialog with multiple selection; empty when cancelled.
    std::function<QStringList()> askImageFiles;
};

class Tbatch : public QDialog {
    Q_OBJECT
  public:
    /// Reads the "Batch" keys of `store`; `engine` is the main window's.
    Tbatch(engine::Engine& engine, settings::IniStore& store, BatchDialogs dialogs,
           QWidget* parent = nullptr);

    batch::BatchItems& items() { return BatchItems; }

    /// Appends `path` when the program reads its extension; the caller
    /// refreshes the list.
    bool AddFile(const std::string& path);
    /// Adds a folder's files (asking for the folder when `folder` is empty).
    void AddFolder(bool recursive, const QString& folder = {});
    /// The list's count and caption and the buttons that need entries.
    void UpdateFileCount();
    void SetBatchControlsEnabled(bool enabled);
    /// Shows or hides task panel `index` (rotate, flip, resize, compress to size).
    void ShowTask(int index, bool visible);

    /// The tasks and output options the controls are bound to.
    const batch::BatchOptions& options() const { return m_options; }

    /// The name of the external optimizer the PNG results get, shown with the
    /// run's format and settings; unset or empty names none.
    std::function<std::string()> optimizerName;

  signals:
    /// The window has closed and written its keys; the main window takes over again.
    void batchClosed();

  public slots:
    void btn_startClick();
    /// Closing writes the "Batch" keys and gives the main window back; while
    /// a run is in progress it only asks the run to stop.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildToolBar();
    void buildTaskPanels();
    void buildOutputOptions();
    void bindOptions();
    /// The options become `options` and the controls show them.
    void showOptions(const batch::BatchOptions& options);
    bool* outputOption(int row);
    bool* taskOption(int task);
    void addImages();
    void removeSelected();
    void removeAll();
    void selectPathFromEntry();
    void mirrorResizeText(QLineEdit* edited, const QString& text);
    void setResizeToHalf();
    std::string readableExtensions() const;
    void showErrorLog(const std::vector<std::string>& lines);

    engine::Engine& m_engine;
    settings::IniStore& m_store;
    BatchDialogs m_dialogs;
    batch::BatchItems BatchItems;
    batch::BatchOptions m_options;
    BatchListModel* m_model = nullptr;
    bool m_running = false;
    bool m_stopRequested = false;

    QToolBar* m_toolBar = nullptr;
    QMenu* m_taskMenu = nullptr;
    QList<QAction*> m_taskActions;
    QAction* btn_remove_all = nullptr;
    QAction* ActionSelectPath = nullptr;
    QWidget* CategoryPanelGroup1 = nullptr;
    QGroupBox* m_taskPanels[4] = {};
    QComboBox* rotate_angle = nullptr;
    QComboBox* rotate_direction = nullptr;
    QComboBox* flip_type = nullptr;
    QLineEdit* resize_w = nullptr;
    QLineEdit* resize_h = nullptr;
    QRadioButton* resize_opt_pixels = nullptr;
    QRadioButton* resize_opt_percent = nullptr;
    QCheckBox* keep_aspect = nullptr;
    QComboBox* filter = nullptr;
    QLineEdit* compress2size_value = nullptr;
    QWidget* Panel2 = nullptr;
    QListWidget* CheckListBox1 = nullptr;
    QTableView* ListView1 = nullptr;
    QLineEdit* output_path = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* btn_start = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* m_runDescription = nullptr;  // what the run will apply
    QLabel* m_runSummary = nullptr;      // what the last run did
};

}  // namespace pimo::ui
