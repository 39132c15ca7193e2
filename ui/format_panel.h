#pragma once
// The format panel: the output format tabs and the pages of settings for
// JPEG, GIF and PNG, the metadata to remove and the transparency treatment.
// The engine's settings are the one record; the controls show it and every
// change the user makes is written to it and announced.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>

#include "engine/compress_to_size.h"
#include "engine/engine.h"
#include "engine/metadata_kinds.h"

namespace pimo::ui {

class FormatPanel : public QWidget {
    Q_OBJECT
  public:
    explicit FormatPanel(engine::Engine& engine, QWidget* parent = nullptr);

    /// Every control shows what the settings hold, without any reaction.
    void showSettings();
    /// The metadata choices for the source now loaded (or for none).
    void sourceChanged();
    /// A palette preset read from the settings takes effect as if chosen: an
    /// Optimal entry sets its colour count (`format`: PNG or GIF).
    void palettePresetRead(int format);
    /// Adds a group at the foot of the PNG page (the external optimizers).
    void addToPngPage(QWidget* group);
    /// Adds a page after the panel's own (the adjustments page).
    void addPage(QWidget* page, const QString& caption);
    /// Moves the scroll bar of `setting` to `value` (clamped to its range) as
    /// the user would: the setting follows and the change is announced.
    void chooseSizeSetting(engine::SizeSetting setting, int value);

  signals:
    /// The user changed a setting.
    void settingsChanged();

  protected:
    /// Keeps the user's mouse and keys off the read-only indicator.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* buildJpegPage();
    QWidget* buildGifPage();
    QWidget* buildPngPage();
    QWidget* buildMetadataPage();
    QWidget* buildTransparencyPage();
    /// A scroll bar whose edit mirrors it and whose settings field follows it;
    /// the change counts when the user lets go.
    void bindScrollBar(QSlider* bar, QLineEdit* mirror, int engine::OptimizationSettings::*field);
    /// Enter in a number edit: a number in `minimum`..`maximum` moves the
    /// scroll bar, anything else is refused with a notice at `noticeAt`.
    void bindNumberEdit(QLineEdit* edit, QSlider* bar, int minimum, int maximum,
                        int engine::OptimizationSettings::*field, QWidget* noticeAt);
    void bindCheckBox(QCheckBox* box, bool engine::OptimizationSettings::*field);
    void bindChoice(QComboBox* list, int engine::OptimizationSettings::*field);
    void bindChoice(QButtonGroup* group, int engine::OptimizationSettings::*field);
    void applyPreset(engine::PresetKind kind, int wantedColours, QSlider* colours, QLineEdit* count,
                     QButtonGroup* quantizers, int engine::OptimizationSettings::*countField,
                     bool byUser);
    void tabchange(bool byUser);
    void showFormatPages();
    void png_palette_presetChange(bool byUser);
    void gif_palette_presetChange(bool byUser);
    void applyTransparencyAvailability();
    /// The simplification indicator and the controls that follow the mode.
    void applyTransparencyControls();
    void applyMetadataAvailability();
    void changed();

    engine::Engine& m_engine;
    engine::OptimizationSettings& m_settings;

    QTabBar* FileTypeTabs = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* JpegOptionsTab = nullptr;
    QWidget* GifOptionsTab = nullptr;
    QWidget* PngOptionsTab = nullptr;
    QWidget* MetadataTab = nullptr;
    QWidget* MaskTab = nullptr;

    QSlider* jpeg_qscroll = nullptr;
    QLineEdit* jpeg_calitate = nullptr;
    QComboBox* jpeg_subsampling = nullptr;
    QButtonGroup* jpeg_encoding = nullptr;

    QComboBox* gif_palette_preset = nullptr;
    QSlider* gif_maxcolors = nullptr;
    QLineEdit* gif_colorcount = nullptr;
    QCheckBox* gif_interlaced = nullptr;
    QButtonGroup* gif_quant_group = nullptr;

    QComboBox* png_preset = nullptr;
    QSlider* png_maxcolors = nullptr;
    QLineEdit* png_colorcount = nullptr;
    QButtonGroup* png_quant_group = nullptr;
    QComboBox* png_compression_type = nullptr;

    QCheckBox* jpeg_remove_iptc = nullptr;
    QCheckBox* remove_xmp = nullptr;
    QCheckBox* remove_exif = nullptr;
    QCheckBox* remove_comments = nullptr;
    QCheckBox* remove_icc = nullptr;
    // Which kinds the source carries: the load rule, before the format's own.
    engine::MetadataKinds m_carried{true, true, true, true, true};

    QRadioButton* keep_transparency = nullptr;
    QRadioButton* solid_color = nullptr;
    QRadioButton* opaque = nullptr;
    QButtonGroup* m_transparency = nullptr;
    QPushButton* ColorBox1 = nullptr;
    QSlider* transp_threshold = nullptr;
    /// Read-only: whether the threshold decides transparency for this output.
    QCheckBox* simplify_transparency = nullptr;
};

}  // namespace pimo::ui
