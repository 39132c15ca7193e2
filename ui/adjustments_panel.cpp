#include "ui/adjustments_panel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QVBoxLayout>

#include "ui/named.h"

namespace pimo::ui {

namespace {

using Settings = engine::OptimizationSettings;

QSlider* ScrollBar(const char* name, int minimum, int maximum, int smallStep, int largeStep) {
    auto* bar = Named(new QSlider(Qt::Horizontal), name);
    bar->setRange(minimum, maximum);
    bar->setSingleStep(smallStep);
    bar->setPageStep(largeStep);
    return bar;
}

QLabel* ValueLabel(const char* name, const QString& text) {
    auto* label = Named(new QLabel(text), name);
    // Wide enough for "-100" and "8.00", so the bars do not jump.
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance("-100") + 4);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

QString GammaText(int position) {
    return QLocale().toString(position / 100.0, 'f', 2);
}

ImageAdjustTab::ImageAdjustTab(Settings& settings, bool& saveImageAdjustments, QWidget* parent)
    : QWidget(parent), m_settings(settings), m_saveImageAdjustments(saveImageAdjustments) {
    setObjectName("ImageAdjustTab");
    brightness = ScrollBar("brightness", -100, 100, 1, 5);
    contrast = ScrollBar("contrast", -100, 100, 1, 5);
    gamma = ScrollBar("gamma", 1, 800, 5, 100);
    gamma->setValue(100);
    // Until the first move the labels show the starting captions.
    label_brightness = ValueLabel("label_brightness", "0");
    label_contrast = ValueLabel("label_contrast", "0");
    label_gamma = ValueLabel("label_gamma", "1");
    invert = Named(new QCheckBox(tr("Invert colors (negative)")), "invert");
    grayscale = Named(new QCheckBox(tr("Grayscale")), "grayscale");
    Button2 = Named(new QPushButton(tr("Reset")), "Button2");
    Button1 = Named(new QPushButton(tr("Apply to source image")), "Button1");
    save_img_adjust =
        Named(new QCheckBox(tr("Remember the adjustments between runs")), "save_img_adjust");

    auto* bars = new QGridLayout;
    int row = 0;
    for (auto [caption, bar, label] : {std::tuple{tr("Brightness:"), brightness, label_brightness},
                                       std::tuple{tr("Contrast:"), contrast, label_contrast},
                                       std::tuple{tr("Gamma:"), gamma, label_gamma}}) {
        bars->addWidget(new QLabel(caption), row, 0);
        bars->addWidget(bar, row, 1);
        bars->addWidget(label, row, 2);
        ++row;
    }
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(invert);
    boxes->addWidget(grayscale);
    boxes->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save_img_adjust);
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bars);
    layout->addLayout(boxes);
    layout->addStretch();
    layout->addLayout(buttons);

    bindScrollBar(brightness, label_brightness, &Settings::AdjustBrightness);
    bindScrollBar(contrast, label_contrast, &Settings::AdjustContrast);
    bindScrollBar(gamma, label_gamma, &Settings::AdjustGamma);
    bindCheckBox(invert, &Settings::AdjustInvert);
    bindCheckBox(grayscale, &Settings::AdjustGrayscale);
    connect(save_img_adjust, &QCheckBox::toggled, this,
            [this](bool checked) { m_saveImageAdjustments = checked; });
    connect(Button2, &QPushButton::clicked, this, &ImageAdjustTab::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &ImageAdjustTab::Button1Click);
    showSettings();
}

void ImageAdjustTab::bindScrollBar(QSlider* bar, QLabel* label, int Settings::*field) {
    // The label follows every move, whoever made it; the field too, so that
    // it always holds what the bar shows.
    connect(bar, &QSlider::valueChanged, this, [this, bar, label, field](int value) {
        label->setText(bar == gamma ? GammaText(value) : QString::number(value));
        m_settings.*field = value;
        // A drag counts once, when it ends; keys and clicks end their scroll at once.
        if (!bar->isSliderDown()) changed();
    });
    connect(bar, &QSlider::sliderReleased, this, &ImageAdjustTab::changed);
}

void ImageAdjustTab::bindCheckBox(QCheckBox* box, bool Settings::*field) {
    connect(box, &QCheckBox::toggled, this, [this, field](bool checked) {
        m_settings.*field = checked;
        changed();
    });
}

void ImageAdjustTab::changed() {
    if (!m_programUpdate) emit settingsChanged();
}

void ImageAdjustTab::showSettings() {
    m_programUpdate = true;
    brightness->setValue(m_settings.AdjustBrightness);
    contrast->setValue(m_settings.AdjustContrast);
    gamma->setValue(m_settings.AdjustGamma);
    invert->setChecked(m_settings.AdjustInvert);
    grayscale->setChecked(m_settings.AdjustGrayscale);
    save_img_adjust->setChecked(m_saveImageAdjustments);
    m_programUpdate = false;
}

void ImageAdjustTab::showNeutral() {
    m_programUpdate = true;
    brightness->setValue(0);
    contrast->setValue(0);
    gamma->setValue(100);
    invert->setChecked(false);
    m_programUpdate = false;
}

// Reset: greyscale is a choice of output, not an adjustment, and stays.
void ImageAdjustTab::Button2Click() {
    showNeutral();
    changed();
}

void ImageAdjustTab::Button1Click() {
    if (m_settings.AdjustmentsNeutral()) return;
    emit applyToSourceRequested();
}

}  // namespace pimo::ui
