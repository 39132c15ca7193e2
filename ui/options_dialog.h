#pragma once
// The options dialog: edits the program-wide options. It is made for each
// showing, filled from the options it is given, and on confirmation hands
// its values back; the main window stores them at once.

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>

#include "engine/program_options.h"

namespace pimo::ui {

class Toptions : public QDialog {
    Q_OBJECT
  public:
    explicit Toptions(const engine::ProgramOptions& options, QWidget* parent = nullptr);

    /// `options` with the dialog's values in place of the ones it edits.
    engine::ProgramOptions applied(engine::ProgramOptions options) const;

  private slots:
    void resize_large_imgClick();

  private:
    void FormShow(const engine::ProgramOptions& options);

    QCheckBox* save_settings_exit = nullptr;
    QCheckBox* show_captions = nullptr;
    QCheckBox* resize_large_img = nullptr;
    QSpinBox* resize_large_img_spin = nullptr;
    QSpinBox* zoom_factor = nullptr;
    QCheckBox* auto_rotate_EXIF = nullptr;
    QCheckBox* show_dialog_on_save = nullptr;
    QCheckBox* check4updates = nullptr;
    QCheckBox* show_quality_score = nullptr;
    QCheckBox* png_save_best_compression = nullptr;
    QCheckBox* png_save_apply_optimizer = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
};

}  // namespace pimo::ui
