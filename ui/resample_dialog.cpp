#include "ui/resample_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "ui/named.h"

namespace pimo::ui {
namespace {

constexpr int kFilterCount = 6;
constexpr int kDefaultFilter = 1;

QLineEdit* DigitsEdit(const char* name, QWidget* parent) {
    auto* edit = Named(new QLineEdit(parent), name);
    // Nine digits stay within the 32-bit range the request holds.
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), edit));
    return edit;
}

QString Qs(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QStringList Tresample::FilterNames() {
    return {tr("Lanczos3 (slowest, sharpest)"),
            tr("Catmull-Rom (slow, sharp)"),
            tr("Mitchell-Netravali bicubic (smooth)"),
            tr("B-spline (smoothest)"),
            tr("Bilinear (fast)"),
            tr("Box (fastest, no antialiasing)")};
}

Tresample::Tresample(engine::ImageSize original, const ResampleChoices& choices, QWidget* parent)
    : QDialog(parent), m_original(original) {
    setObjectName("resample");
    setWindowTitle(tr("Resample"));
    Label3 = Named(new QLabel(Qs(engine::OriginalSizeText(original)), this), "Label3");
    resize_w = DigitsEdit("resize_w", this);
    resize_h = DigitsEdit("resize_h", this);
    keep_aspect = Named(new QCheckBox(tr("Keep aspect ratio"), this), "keep_aspect");
    filter = Named(new QComboBox(this), "filter");
    filter->addItems(FilterNames());

    auto* units = Named(new QGroupBox(tr("Unit"), this), "unit_group_box");
    unit_group = Named(new QButtonGroup(units), "unit_group");
    m_pixels = Named(new QRadioButton(tr("pixels"), units), "unit_pixels");
    m_percent = Named(new QRadioButton(tr("percent"), units), "unit_percent");
    unit_group->addButton(m_pixels, engine::kResampleUnitPixels);
    unit_group->addButton(m_percent, engine::kResampleUnitPercent);
    auto* unitLayout = new QHBoxLayout(units);
    unitLayout->addWidget(m_pixels);
    unitLayout->addWidget(m_percent);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(tr("Width:"), resize_w);
    form->addRow(tr("Height:"), resize_h);
    form->addRow(tr("Filter:"), filter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label3);
    layout->addLayout(form);
    layout->addWidget(units);
    layout->addWidget(keep_aspect);
    layout->addWidget(buttons);

    // The shown state first, then the reactions, so that only the unit's own
    // reaction runs for the stored unit.
    resize_w->setText(QString::number(original.width));
    resize_h->setText(QString::number(original.height));
    m_pixels->setChecked(true);
    const bool knownFilter = choices.ResampleFilter >= 0 && choices.ResampleFilter < kFilterCount;
    filter->setCurrentIndex(knownFilter ? choices.ResampleFilter : kDefaultFilter);
    keep_aspect->setChecked(choices.ResampleKeepAspectRatio);

    // A change of the selection, by a click or by the stored unit below.
    connect(unit_group, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) unit_groupClick();
    });
    // textEdited comes only from typing, never from setText: the mirrored
    // text does not echo back.
    connect(resize_w, &QLineEdit::textEdited, this,
            [this](const QString& text) { mirror(resize_w, resize_h, text); });
    connect(resize_h, &QLineEdit::textEdited, this,
            [this](const QString& text) { mirror(resize_h, resize_w, text); });

    if (choices.ResampleUnit == engine::kResampleUnitPercent) m_percent->setChecked(true);
}

int Tresample::unit() const {
    return m_percent->isChecked() ? engine::kResampleUnitPercent : engine::kResampleUnitPixels;
}

void Tresample::unit_groupClick() {
    const engine::SizeEditTexts texts = engine::SizeEditTextsForUnit(unit(), m_original);
    resize_w->setText(Qs(texts.width));
    resize_h->setText(Qs(texts.height));
}

void Tresample::mirror(QLineEdit* edited, QLineEdit* other, const QString& text) {
    const std::string typed = text.toStdString();
    engine::SizeEditChange change;
    change.typedText = typed;
    change.widthEdited = edited == resize_w;
    change.typedByUser = true;
    change.keepAspect = keep_aspect->isChecked();
    change.unit = unit();
    if (const auto mirrored = engine::MirroredSizeText(change, m_original)) {
        other->setText(Qs(*mirrored));
        other->setModified(false);
    }
}

ResampleChoices Tresample::choices() const {
    return {filter->currentIndex(), unit(), keep_aspect->isChecked()};
}

ResampleAnswer Tresample::answer() const {
    const std::string width = resize_w->text().toStdString();
    const std::string height = resize_h->text().toStdString();
    return {engine::DialogResampleRequest(width, height, unit(), keep_aspect->isChecked()),
            filter->currentIndex()};
}

std::optional<ResampleAnswer> Tresample::Ask(QWidget* parent, engine::ImageSize original,
                                             ResampleChoices& choices) {
    Tresample dialog(original, choices, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    choices = dialog.choices();
    return dialog.answer();
}

}  // namespace pimo::ui
