#include "ui/format_panel.h"

#include <QColorDialog>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <vector>

#include "engine/transparency.h"
#include "settings/settings_keys.h"
#include "ui/message_box.h"
#include "ui/named.h"

namespace pimo::ui {

namespace {

using Settings = engine::OptimizationSettings;

QSlider* ScrollBar(const char* name, int minimum, int maximum) {
    auto* bar = Named(new QSlider(Qt::Horizontal), name);
    bar->setRange(minimum, maximum);
    bar->setPageStep(5);
    return bar;
}

// A scroll bar over the range declared for its settings key.
QSlider* ScrollBar(const char* name, settings::KeyRange range) {
    return ScrollBar(name, range.intMin(), range.intMax());
}

// A count or quality typed in digits. The keypad's + - * / are the view's
// zoom keys; the edit has no use for them (its values are never negative),
// so it lets them through instead of taking them as text. The keys of the
// main keyboard still type.
class DigitsEdit : public QLineEdit {
  protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool zoomKey = key->modifiers() == Qt::KeypadModifier &&
                                 (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Minus ||
                                  key->key() == Qt::Key_Asterisk || key->key() == Qt::Key_Slash);
            if (zoomKey) {
                event->ignore();
                return true;
            }
        }
        return QLineEdit::event(event);
    }
};

QLineEdit* NumberEdit(const char* name) {
    auto* edit = Named(new DigitsEdit, name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(" *-?[0-9]* *"), edit));
    edit->setMaximumWidth(60);
    return edit;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets) row->addWidget(widget, qobject_cast<QSlider*>(widget) ? 1 : 0);
    return row;
}

QButtonGroup* Choices(QWidget* parent, QLayout* layout, const char* name,
                      std::initializer_list<QString> texts) {
    auto* group = new QButtonGroup(parent);
    group->setObjectName(name);
    int id = 0;
    for (const QString& text : texts) {
        auto* button = new QRadioButton(text);
        button->setObjectName(QString("%1_%2").arg(name).arg(id));
        group->addButton(button, id++);
        layout->addWidget(button);
    }
    return group;
}

}  // namespace

FormatPanel::FormatPanel(engine::Engine& engine, QWidget* parent)
    : QWidget(parent), m_engine(engine), m_settings(engine.settings) {
    setObjectName("panel_optimizare");
    FileTypeTabs = Named(new QTabBar, "FileTypeTabs");
    for (const char* name : {"JPEG", "PNG", "GIF"}) FileTypeTabs->addTab(name);
    FileTypeTabs->setDrawBase(false);

    PageControl1 = Named(new QTabWidget, "PageControl1");
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->addTab(JpegOptionsTab = buildJpegPage(), tr("JPEG options"));
    PageControl1->addTab(GifOptionsTab = buildGifPage(), tr("GIF options"));
    PageControl1->addTab(PngOptionsTab = buildPngPage(), tr("PNG options"));
    PageControl1->addTab(MetadataTab = buildMetadataPage(), tr("Metadata"));
    PageControl1->addTab(MaskTab = buildTransparencyPage(), tr("Transparency"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FileTypeTabs);
    layout->addWidget(PageControl1);

    connect(FileTypeTabs, &QTabBar::currentChanged, this, [this](int format) {
        m_settings.Format = format;
        tabchange(true);
    });
    showSettings();
    sourceChanged();  // no image yet: the pages that need one stay hidden
}

// ---- pages ----

void FormatPanel::palettePresetRead(int format) {
    if (format == engine::kFormatPng) {
        png_palette_presetChange(true);
    } else {
        gif_palette_presetChange(true);
    }
}

void FormatPanel::addToPngPage(QWidget* group) {
    PngOptionsTab->layout()->addWidget(group);
}

void FormatPanel::addPage(QWidget* page, const QString& caption) {
    PageControl1->addTab(page, caption);
}

void FormatPanel::chooseSizeSetting(engine::SizeSetting setting, int value) {
    switch (setting) {
        case engine::SizeSetting::JPEGQuality:
            jpeg_qscroll->setValue(value);
            return;
        case engine::SizeSetting::GIFMaxColors:
            gif_maxcolors->setValue(value);
            return;
        case engine::SizeSetting::PNGMaxColors:
            png_maxcolors->setValue(value);
            return;
    }
}

QWidget* FormatPanel::buildJpegPage() {
    auto* page = Named(new QWidget, "JpegOptionsTab");
    auto* layout = new QVBoxLayout(page);
    jpeg_qscroll = ScrollBar("jpeg_qscroll", settings::SettingsKeyRange("JPEGQuality"));
    jpeg_calitate = NumberEdit("jpeg_calitate");
    layout->addLayout(Row({new QLabel(tr("Quality:")), jpeg_qscroll, jpeg_calitate}));
    jpeg_subsampling = Named(new QComboBox, "jpeg_subsampling");
    jpeg_subsampling->addItems(
        {tr("none (4:4:4)"), tr("low (4:2:2)"), tr("medium (4:2:0)"), tr("high (4:1:1)")});
    auto* encoding = new QHBoxLayout;
    encoding->addWidget(new QLabel(tr("Chroma subsampling:")));
    encoding->addWidget(jpeg_subsampling);
    jpeg_encoding = Choices(page, encoding, "jpeg_encoding",
                            {tr("Standard (optimised coding)"), tr("Progressive")});
    encoding->addStretch();
    layout->addLayout(encoding);

    bindScrollBar(jpeg_qscroll, jpeg_calitate, &Settings::JPEGQuality);
    bindNumberEdit(jpeg_calitate, jpeg_qscroll, 1, 100, &Settings::JPEGQuality, jpeg_calitate);
    bindChoice(jpeg_subsampling, &Settings::JPEGChromaSubsampling);
    connect(jpeg_encoding, &QButtonGroup::idClicked, this, [this](int id) {
        m_settings.JPEGProgressive = id == 1;
        changed();
    });
    return page;
}

QWidget* FormatPanel::buildGifPage() {
    auto* page = Named(new QWidget, "GifOptionsTab");
    auto* layout = new QVBoxLayout(page);
    gif_palette_preset = Named(new QComboBox, "gif_palette_preset");
    for (std::size_t i = 1; i < engine::kPngPalettePresets.size(); ++i)
        gif_palette_preset->addItem(Qs(std::string(engine::kPngPalettePresets[i].name)));
    gif_maxcolors = ScrollBar("gif_maxcolors", engine::kMinColorCount, engine::kMaxColorCount);
    gif_colorcount = NumberEdit("gif_colorcount");
    gif_interlaced = Named(new QCheckBox(tr("Interlaced")), "gif_interlaced");
    layout->addLayout(Row({gif_palette_preset, gif_interlaced}));
    layout->addLayout(Row({new QLabel(tr("Colours:")), gif_maxcolors, gif_colorcount}));
    auto* quantizers = new QHBoxLayout;
    gif_quant_group =
        Choices(page, quantizers, "gif_quant_group",
                {tr("Wu (fast)"), tr("NeuQuant"), tr("libimagequant, dithered (best looking)")});
    layout->addLayout(quantizers);

    bindScrollBar(gif_maxcolors, gif_colorcount, &Settings::GIFMaxColors);
    bindNumberEdit(gif_colorcount, gif_maxcolors, 2, 256, &Settings::GIFMaxColors, gif_maxcolors);
    bindCheckBox(gif_interlaced, &Settings::GIFInterlaced);
    connect(gif_palette_preset, &QComboBox::activated, this, [this](int index) {
        m_settings.GIFPalettePreset = index;
        gif_palette_presetChange(true);
    });
    bindChoice(gif_quant_group, &Settings::GIFQuantizationMethod);
    return page;
}

QWidget* FormatPanel::buildPngPage() {
    auto* page = Named(new QWidget, "PngOptionsTab");
    auto* layout = new QVBoxLayout(page);
    png_preset = Named(new QComboBox, "png_preset");
    for (const engine::PalettePreset& preset : engine::kPngPalettePresets)
        png_preset->addItem(Qs(std::string(preset.name)));
    png_compression_type = Named(new QComboBox, "png_compression_type");
    png_compression_type->addItems({tr("lowest (fastest)"), tr("low"), tr("medium (default)"),
                                    tr("high"), tr("highest (very slow)")});
    png_maxcolors = ScrollBar("png_maxcolors", engine::kMinColorCount, engine::kMaxColorCount);
    png_colorcount = NumberEdit("png_colorcount");
    layout->addLayout(Row({png_preset, new QLabel(tr("Compression:")), png_compression_type}));
    layout->addLayout(Row({new QLabel(tr("Colours:")), png_maxcolors, png_colorcount}));
    auto* quantizers = new QHBoxLayout;
    png_quant_group =
        Choices(page, quantizers, "png_quant_group",
                {tr("Wu (fast)"), tr("NeuQuant"), tr("libimagequant, dithered (best looking)")});
    layout->addLayout(quantizers);

    bindScrollBar(png_maxcolors, png_colorcount, &Settings::PNGMaxColors);
    bindNumberEdit(png_colorcount, png_maxcolors, 2, 256, &Settings::PNGMaxColors, png_colorcount);
    connect(png_preset, &QComboBox::activated, this, [this](int index) {
        m_settings.PNGPalettePreset = index;
        png_palette_presetChange(true);
    });
    bindChoice(png_quant_group, &Settings::PNGQuantizationMethod);
    bindChoice(png_compression_type, &Settings::PNGCompressionType);
    return page;
}

QWidget* FormatPanel::buildMetadataPage() {
    auto* page = Named(new QWidget, "MetadataTab");
    auto* layout = new QVBoxLayout(page);
    remove_comments = Named(new QCheckBox(tr("Remove comments")), "remove_comments");
    jpeg_remove_iptc = Named(new QCheckBox(tr("Remove IPTC")), "jpeg_remove_iptc");
    remove_xmp = Named(new QCheckBox(tr("Remove XMP")), "remove_xmp");
    remove_exif = Named(new QCheckBox(tr("Remove EXIF")), "remove_exif");
    remove_icc = Named(new QCheckBox(tr("Remove the ICC profile")), "remove_icc");
    for (QCheckBox* box : {remove_comments, jpeg_remove_iptc, remove_xmp, remove_exif, remove_icc})
        layout->addWidget(box);
    bindCheckBox(remove_comments, &Settings::MetadataRemoveComments);
    bindCheckBox(jpeg_remove_iptc, &Settings::MetadataRemoveIPTC);
    bindCheckBox(remove_xmp, &Settings::MetadataRemoveXMP);
    bindCheckBox(remove_exif, &Settings::MetadataRemoveEXIF);
    bindCheckBox(remove_icc, &Settings::MetadataRemoveICC);
    return page;
}

QWidget* FormatPanel::buildTransparencyPage() {
    auto* page = Named(new QWidget, "MaskTab");
    auto* layout = new QVBoxLayout(page);
    keep_transparency = Named(new QRadioButton(tr("Keep transparency")), "keep_transparency");
    solid_color = Named(new QRadioButton(tr("Fill with a solid colour")), "solid_color");
    opaque = Named(new QRadioButton(tr("Make opaque")), "opaque");
    m_transparency = new QButtonGroup(page);
    m_transparency->addButton(keep_transparency, static_cast<int>(engine::TransparencyMode::Keep));
    m_transparency->addButton(solid_color, static_cast<int>(engine::TransparencyMode::SolidColor));
    m_transparency->addButton(opaque, static_cast<int>(engine::TransparencyMode::Opaque));
    ColorBox1 = Named(new QPushButton, "ColorBox1");
    ColorBox1->setFixedWidth(48);
    transp_threshold =
        ScrollBar("transp_threshold", settings::SettingsKeyRange("TransparencyThreshold"));
    transp_threshold->setPageStep(5);
    simplify_transparency = Named(
        new QCheckBox(tr("Simplify transparency (the threshold decides what is transparent)")),
        "simplify_transparency");
    // Shows a rule's outcome: the user reads it, the program sets it.
    simplify_transparency->installEventFilter(this);
    simplify_transparency->setFocusPolicy(Qt::NoFocus);
    simplify_transparency->setEnabled(false);
    layout->addWidget(keep_transparency);
    layout->addLayout(Row({solid_color, ColorBox1}));
    layout->addWidget(opaque);
    layout->addWidget(simplify_transparency);
    layout->addLayout(Row({new QLabel(tr("Threshold:")), transp_threshold}));

    connect(m_transparency, &QButtonGroup::idClicked, this, [this](int id) {
        m_settings.TransparencyMode = static_cast<engine::TransparencyMode>(id);
        applyTransparencyAvailability();
        changed();
    });
    connect(ColorBox1, &QPushButton::clicked, this, [this] {
        const engine::Rgb old = m_settings.BackgroundColor;
        const QColor chosen = QColorDialog::getColor(QColor(old.red, old.green, old.blue), this);
        if (!chosen.isValid()) return;
        m_settings.BackgroundColor = {static_cast<std::uint8_t>(chosen.red()),
                                      static_cast<std::uint8_t>(chosen.green()),
                                      static_cast<std::uint8_t>(chosen.blue())};
        showSettings();
        changed();
    });
    bindScrollBar(transp_threshold, nullptr, &Settings::TransparencyThreshold);
    return page;
}

// ---- bindings ----

void FormatPanel::bindScrollBar(QSlider* bar, QLineEdit* mirror, int Settings::*field) {
    connect(bar, &QSlider::valueChanged, this, [this, bar, mirror, field](int value) {
        if (mirror) mirror->setText(QString::number(value));
        m_settings.*field = value;
        if (!bar->isSliderDown()) changed();
    });
    connect(bar, &QSlider::sliderReleased, this, &FormatPanel::changed);
}

void FormatPanel::bindNumberEdit(QLineEdit* edit, QSlider* bar, int minimum, int maximum,
                                 int Settings::*field, QWidget* noticeAt) {
    connect(edit, &QLineEdit::returnPressed, this, [=, this] {
        const QString text = edit->text().trimmed();
        bool isNumber = false;
        const int value = text.toInt(&isNumber);
        if (!isNumber) {
            ShowMessageBox(this, engine::MessageKind::Error,
                           "'" + text.toStdString() + "' is not a valid integer value",
                           engine::MessageButtons::Ok);
            return;
        }
        if (value < minimum || value > maximum) {
            QToolTip::showText(
                noticeAt->mapToGlobal(noticeAt->rect().bottomLeft()),
                "<b>" + tr("Invalid value") + "</b><br>" +
                    tr("Please enter a number between %1 and %2").arg(minimum).arg(maximum),
                noticeAt, {}, 3000);
            edit->setText(QString::number(bar->value()));
            return;
        }
        {
            const QSignalBlocker block(bar);
            bar->setValue(value);  // clamped to the bar's own maximum
        }
        edit->setText(QString::number(bar->value()));
        m_settings.*field = bar->value();
        changed();
    });
}

void FormatPanel::bindChoice(QComboBox* list, int Settings::*field) {
    connect(list, &QComboBox::activated, this, [this, field](int index) {
        m_settings.*field = index;
        changed();
    });
}

void FormatPanel::bindChoice(QButtonGroup* group, int Settings::*field) {
    connect(group, &QButtonGroup::idClicked, this, [this, field](int id) {
        m_settings.*field = id;
        changed();
    });
}

void FormatPanel::bindCheckBox(QCheckBox* box, bool Settings::*field) {
    connect(box, &QCheckBox::clicked, this, [this, field](bool checked) {
        m_settings.*field = checked;
        changed();
    });
}

void FormatPanel::changed() {
    emit settingsChanged();
}

// ---- reactions ----

void FormatPanel::showSettings() {
    const QList<QObject*> controls = findChildren<QObject*>();
    std::vector<std::unique_ptr<QSignalBlocker>> blocks;
    for (QObject* control : controls) blocks.push_back(std::make_unique<QSignalBlocker>(control));

    FileTypeTabs->setCurrentIndex(m_settings.Format);
    jpeg_qscroll->setValue(m_settings.JPEGQuality);
    jpeg_calitate->setText(QString::number(m_settings.JPEGQuality));
    jpeg_subsampling->setCurrentIndex(m_settings.JPEGChromaSubsampling);
    jpeg_encoding->button(m_settings.JPEGProgressive ? 1 : 0)->setChecked(true);

    // The colour counts go up to what the image has.
    gif_maxcolors->setMaximum(m_settings.ColorCountMaximum);
    png_maxcolors->setMaximum(m_settings.ColorCountMaximum);
    gif_palette_preset->setCurrentIndex(m_settings.GIFPalettePreset);
    gif_maxcolors->setValue(m_settings.GIFMaxColors);
    gif_colorcount->setText(QString::number(gif_maxcolors->value()));
    gif_interlaced->setChecked(m_settings.GIFInterlaced);
    gif_quant_group->button(std::clamp(m_settings.GIFQuantizationMethod, 0, 2))->setChecked(true);

    png_preset->setItemText(0, Qs(m_engine.PngTrueColorName));
    png_preset->setCurrentIndex(m_settings.PNGPalettePreset);
    png_maxcolors->setValue(m_settings.PNGMaxColors);
    png_colorcount->setText(QString::number(png_maxcolors->value()));
    png_quant_group->button(std::clamp(m_settings.PNGQuantizationMethod, 0, 2))->setChecked(true);
    png_compression_type->setCurrentIndex(m_settings.PNGCompressionType);

    remove_comments->setChecked(m_settings.MetadataRemoveComments);
    jpeg_remove_iptc->setChecked(m_settings.MetadataRemoveIPTC);
    remove_xmp->setChecked(m_settings.MetadataRemoveXMP);
    remove_exif->setChecked(m_settings.MetadataRemoveEXIF);
    remove_icc->setChecked(m_settings.MetadataRemoveICC);

    m_transparency->button(static_cast<int>(m_settings.TransparencyMode))->setChecked(true);
    const engine::Rgb colour = m_settings.BackgroundColor;
    ColorBox1->setStyleSheet(QString("background-color: rgb(%1,%2,%3);")
                                 .arg(colour.red)
                                 .arg(colour.green)
                                 .arg(colour.blue));
    transp_threshold->setValue(m_settings.TransparencyThreshold);

    blocks.clear();
    tabchange(false);
    png_palette_presetChange(false);
    gif_palette_presetChange(false);
}

void FormatPanel::sourceChanged() {
    FIBITMAP* source = m_engine.SourceBitmap.get();
    // Without an image every choice is open.
    m_carried = source ? engine::MetadataCarried(source)
                       : engine::MetadataKinds(true, true, true, true, true);
    PageControl1->setTabVisible(PageControl1->indexOf(MetadataTab), m_carried.any());
    // Transparency settings mean something only for a transparent source.
    PageControl1->setTabVisible(PageControl1->indexOf(MaskTab),
                                source && m_engine.imageInfo.HasTransparency);
    applyMetadataAvailability();
    applyTransparencyControls();
}

// The format tabs: only the current format's page has a visible tab, the
// transparency controls follow what the format can hold, and so do the
// metadata choices.
void FormatPanel::tabchange(bool byUser) {
    showFormatPages();
    applyTransparencyAvailability();
    applyMetadataAvailability();
    if (byUser) changed();
}

void FormatPanel::showFormatPages() {
    QWidget* pages[3] = {JpegOptionsTab, PngOptionsTab, GifOptionsTab};
    const int format = std::clamp(m_settings.Format, 0, 2);
    QWidget* current = PageControl1->currentWidget();
    const bool onFormatPage =
        current == JpegOptionsTab || current == PngOptionsTab || current == GifOptionsTab;
    for (int i = 0; i < 3; ++i)
        PageControl1->setTabVisible(PageControl1->indexOf(pages[i]), i == format);
    if (onFormatPage || !current) PageControl1->setCurrentWidget(pages[format]);
}

void FormatPanel::applyTransparencyAvailability() {
    const bool keeps = engine::FormatKeepsTransparency(m_settings.Format);
    engine::ApplyFormatTransparencyRule(m_settings);
    keep_transparency->setEnabled(keeps);
    {
        const QSignalBlocker block(m_transparency);
        m_transparency->button(static_cast<int>(m_settings.TransparencyMode))->setChecked(true);
    }
    applyTransparencyControls();
}

bool FormatPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == simplify_transparency) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Keep: the threshold, as the indicator says; a solid colour: the colour box;
// opaque: neither.
void FormatPanel::applyTransparencyControls() {
    simplify_transparency->setEnabled(m_engine.SourceBitmap != nullptr);
    simplify_transparency->setChecked(
        engine::SimplifiesTransparency(m_engine, simplify_transparency->isChecked()));
    const engine::TransparencyMode mode = m_settings.TransparencyMode;
    transp_threshold->setEnabled(simplify_transparency->isChecked() &&
                                 mode == engine::TransparencyMode::Keep);
    ColorBox1->setEnabled(mode == engine::TransparencyMode::SolidColor);
}

void FormatPanel::applyMetadataAvailability() {
    const engine::MetadataKinds kept = engine::MetadataKeptBy(m_settings.Format);
    QCheckBox* boxes[engine::kMetadataKindCount] = {remove_comments, jpeg_remove_iptc, remove_xmp,
                                                    remove_exif, remove_icc};
    for (const engine::MetadataKind kind : engine::kMetadataKinds) {
        boxes[static_cast<std::size_t>(kind)]->setEnabled(m_carried.has(kind) && kept.has(kind));
    }
}

// A palette preset frees the colour controls only for an Optimal palette (or
// none chosen), and an Optimal entry sets its colour count.
void FormatPanel::applyPreset(engine::PresetKind kind, int wantedColours, QSlider* colours,
                              QLineEdit* count, QButtonGroup* quantizers, int Settings::*countField,
                              bool byUser) {
    const bool free =
        kind != engine::PresetKind::TrueColor && kind != engine::PresetKind::DitheredMonochrome;
    colours->setEnabled(free);
    count->setEnabled(free);
    for (QAbstractButton* button : quantizers->buttons()) button->setEnabled(free);
    if (!byUser) return;
    if (kind == engine::PresetKind::Quantize && wantedColours > 0) {
        const QSignalBlocker block(colours);
        colours->setValue(wantedColours);  // clamped to the image's colours
        m_settings.*countField = colours->value();
        count->setText(QString::number(colours->value()));
    }
    if (m_engine.SourceBitmap) changed();
}

void FormatPanel::png_palette_presetChange(bool byUser) {
    const int preset = m_settings.PNGPalettePreset;
    const int wanted =
        preset >= 0 ? engine::kPngPalettePresets[static_cast<std::size_t>(preset)].colorCount : 0;
    applyPreset(engine::PngPresetKind(preset), wanted, png_maxcolors, png_colorcount,
                png_quant_group, &Settings::PNGMaxColors, byUser);
    applyTransparencyControls();
}

// The GIF list is the PNG list without its true-colour entry.
void FormatPanel::gif_palette_presetChange(bool byUser) {
    const int preset = m_settings.GIFPalettePreset;
    const int wanted =
        preset >= 0 ? engine::kPngPalettePresets[static_cast<std::size_t>(preset) + 1].colorCount
                    : 0;
    applyPreset(engine::GifPresetKind(preset), wanted, gif_maxcolors, gif_colorcount,
                gif_quant_group, &Settings::GIFMaxColors, byUser);
}

}  // namespace pimo::ui
