#include "ui/options_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

#include "settings/settings_keys.h"
#include "ui/named.h"

namespace pimo::ui {

namespace {

constexpr settings::KeyRange kResolution = settings::SettingsKeyRange("LargeImagesResolution");
constexpr settings::KeyRange kZoomFactor = settings::SettingsKeyRange("ZoomFactor");

}  // namespace

Toptions::Toptions(const engine::ProgramOptions& options, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Options"));

    auto* general = new QWidget;
    auto* generalLayout = new QVBoxLayout(general);
    save_settings_exit = Named(new QCheckBox(tr("Save settings on exit")), "save_settings_exit");
    show_captions =
        Named(new QCheckBox(tr("Show captions on the toolbar buttons")), "show_captions");
    resize_large_img =
        Named(new QCheckBox(tr("Offer to resize images larger than")), "resize_large_img");
    resize_large_img_spin = Named(new QSpinBox, "resize_large_img_spin");
    resize_large_img_spin->setRange(kResolution.intMin(), kResolution.intMax());
    resize_large_img_spin->setValue(1);
    resize_large_img_spin->setSuffix(tr(" megapixels"));
    auto* resizeRow = new QHBoxLayout;
    resizeRow->addWidget(resize_large_img);
    resizeRow->addWidget(resize_large_img_spin);
    resizeRow->addStretch();
    zoom_factor = Named(new QSpinBox, "zoom_factor");
    // The step in percent: the factor's fraction.
    zoom_factor->setRange(static_cast<int>(std::lround((kZoomFactor.min - 1.0) * 100.0)),
                          static_cast<int>(std::lround((kZoomFactor.max - 1.0) * 100.0)));
    zoom_factor->setSingleStep(5);
    zoom_factor->setValue(20);
    zoom_factor->setSuffix(" %");
    auto* zoomRow = new QHBoxLayout;
    zoomRow->addWidget(new QLabel(tr("Zoom step:")));
    zoomRow->addWidget(zoom_factor);
    zoomRow->addStretch();
    auto_rotate_EXIF = Named(new QCheckBox(tr("Turn JPEG images as their EXIF orientation says")),
                             "auto_rotate_EXIF");
    show_dialog_on_save =
        Named(new QCheckBox(tr("Choose the file name on every save")), "show_dialog_on_save");
    check4updates = Named(new QCheckBox(tr("Check for updates automatically")), "check4updates");
    show_quality_score =
        Named(new QCheckBox(tr("Measure the quality of each result and show it beside its size")),
              "show_quality_score");
    for (QWidget* control :
         {static_cast<QWidget*>(save_settings_exit), static_cast<QWidget*>(show_captions)})
        generalLayout->addWidget(control);
    generalLayout->addLayout(resizeRow);
    generalLayout->addLayout(zoomRow);
    for (QWidget* control :
         {static_cast<QWidget*>(auto_rotate_EXIF), static_cast<QWidget*>(show_dialog_on_save),
          static_cast<QWidget*>(check4updates), static_cast<QWidget*>(show_quality_score)})
        generalLayout->addWidget(control);
    generalLayout->addStretch();

    auto* png = new QWidget;
    auto* pngLayout = new QVBoxLayout(png);
    png_save_best_compression =
        Named(new QCheckBox(tr("Remember the best compression setting of PNG images")),
              "png_save_best_compression");
    png_save_apply_optimizer =
        Named(new QCheckBox(tr("Remember whether the PNG optimizer is applied")),
              "png_save_apply_optimizer");
    pngLayout->addWidget(png_save_best_compression);
    pngLayout->addWidget(png_save_apply_optimizer);
    pngLayout->addStretch();

    auto* pages = new QTabWidget;
    pages->addTab(general, tr("General"));
    pages->addTab(png, tr("PNG performance"));

    auto* buttons = new QDialogButtonBox;
    Button1 = Named(buttons->addButton(QDialogButtonBox::Ok), "Button1");
    Button2 = Named(buttons->addButton(QDialogButtonBox::Cancel), "Button2");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(resize_large_img, &QCheckBox::toggled, this, &Toptions::resize_large_imgClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    FormShow(options);
}

void Toptions::FormShow(const engine::ProgramOptions& options) {
    save_settings_exit->setChecked(options.SaveSettingsOnExit);
    show_captions->setChecked(options.ShowCaptions);
    resize_large_img->setChecked(options.AskToResizeLargeImages);
    resize_large_imgClick();
    auto_rotate_EXIF->setChecked(options.AutoRotateEXIF);
    show_dialog_on_save->setChecked(options.ShowDialogOnSave);
    png_save_best_compression->setChecked(options.PNGSaveBestCompressionState);
    png_save_apply_optimizer->setChecked(options.PNGSaveApplyOptimizerState);
    check4updates->setChecked(options.Check4Updates);
    show_quality_score->setChecked(options.ShowQualityScore);
    if (options.AskToResizeLargeImages)
        resize_large_img_spin->setValue(options.LargeImagesResolution);
    zoom_factor->setValue(static_cast<int>(std::lround((options.ZoomFactor - 1.0) * 100.0)));
}

void Toptions::resize_large_imgClick() {
    resize_large_img_spin->setEnabled(resize_large_img->isChecked());
}

engine::ProgramOptions Toptions::applied(engine::ProgramOptions options) const {
    options.SaveSettingsOnExit = save_settings_exit->isChecked();
    options.ShowCaptions = show_captions->isChecked();
    options.ZoomFactor = static_cast<float>(zoom_factor->value() / 100.0 + 1.0);
    options.AskToResizeLargeImages = resize_large_img->isChecked();
    options.LargeImagesResolution = resize_large_img_spin->value();
    options.AutoRotateEXIF = auto_rotate_EXIF->isChecked();
    options.Check4Updates = check4updates->isChecked();
    options.ShowQualityScore = show_quality_score->isChecked();
    options.ShowDialogOnSave = show_dialog_on_save->isChecked();
    options.PNGSaveBestCompressionState = png_save_best_compression->isChecked();
    options.PNGSaveApplyOptimizerState = png_save_apply_optimizer->isChecked();
    return options;
}

}  // namespace pimo::ui
