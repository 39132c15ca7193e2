#include "ui/preset_editor.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/ini_store.h"
#include "ui/message_box.h"
#include "ui/named.h"

namespace pimo::ui {

namespace {

using optimizers::TOptimizationTool;

bool SameIgnoringCase(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

std::optional<std::string> PresetEntryError(const OptimizerPresetModel& presets,
                                            const TOptimizationTool& entry, int editIndex) {
    // The entries count exactly as typed: no trimming.
    if (entry.Name.empty() || entry.FileName.empty()) return kFieldsMissingText;
    if (!QFileInfo(Qs(entry.FileName)).isFile()) return kFileMissingText;
    if (entry.Params.find(optimizers::kImageFilePlaceholder) == std::string::npos)
        return kParametersInvalidText;
    const QString name = Qs(entry.Name);
    for (int row = 0; row < presets.rowCount(); ++row) {
        if (row == editIndex) continue;
        const QString item = presets.itemText(row);
        // Two custom names that differ only in letter case would share one
        // section of the external-tools file, and one would be lost.
        if (item == name || (!presets.isInternal(row) && SameIgnoringCase(item, name)))
            return kNameTakenText;
    }
    // The file's own rules (no spaces around a section name, no line breaks),
    // checked on a scratch store before anything changes.
    try {
        settings::IniStore probe;
        probe.WriteString(entry.Name, optimizers::kFileNameKey, entry.FileName);
        probe.WriteString(entry.Name, optimizers::kParamsKey, entry.Params);
    } catch (const settings::IniError& error) {
        return error.what();
    }
    return std::nullopt;
}

Tform_add_png_optimizer::Tform_add_png_optimizer(OptimizerPresetModel& presets,
                                                 settings::IniStore& externalTools, QWidget* parent)
    : QDialog(parent), m_presets(presets), m_externalTools(externalTools) {
    setObjectName("form_add_png_optimizer");
    setWindowTitle(tr("Add or modify an external PNG optimization tool"));
    tool_name = Named(new QLineEdit, "tool_name");
    tool_path = Named(new QLineEdit, "tool_path");
    Button1 = Named(new QPushButton(tr("Browse...")), "Button1");
    parameters =
        Named(new QLineEdit(Qs(std::string(optimizers::kImageFilePlaceholder))), "parameters");
    Button2 = Named(new QPushButton(tr("OK")), "Button2");
    Button3 = Named(new QPushButton(tr("Cancel")), "Button3");
    Button2->setDefault(true);
    tool_path->setMinimumWidth(tool_path->fontMetrics().horizontalAdvance('x') * 40);

    OpenDialog1 = Named(new QFileDialog(this, tr("Choose the optimization tool")), "OpenDialog1");
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    // Elsewhere than on Windows the tools are programs without an extension.
    OpenDialog1->setNameFilters(
        {tr("Programs and scripts (*.exe *.bat *.vbs *.vbe *.js *.wsf)"), tr("All files (*)")});
#ifdef Q_OS_WIN
    OpenDialog1->setDefaultSuffix("exe");
#else
    OpenDialog1->selectNameFilter(tr("All files (*)"));
#endif

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(tool_path, 1);
    pathRow->addWidget(Button1);
    auto* note = new QLabel(tr("Use {IMAGE_FILE} for the input and output file."));
    note->setEnabled(false);
    auto* form = new QFormLayout;
    form->addRow(tr("Tool name:"), tool_name);
    form->addRow(tr("Tool path:"), pathRow);
    form->addRow(tr("Parameters:"), parameters);
    form->addRow(QString(), note);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border
    setTabOrder(tool_name, tool_path);
    setTabOrder(tool_path, Button1);
    setTabOrder(Button1, parameters);
    setTabOrder(parameters, Button2);
    setTabOrder(Button2, Button3);

    connect(Button1, &QPushButton::clicked, this, &Tform_add_png_optimizer::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tform_add_png_optimizer::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
}

void Tform_add_png_optimizer::editPreset(int index) {
    // The internal presets are not changed.
    if (m_presets.isInternal(index) || index >= m_presets.rowCount()) return;
    const TOptimizationTool& tool = m_presets.presets().tools().At(index);
    tool_name->setText(Qs(tool.Name));
    tool_path->setText(Qs(tool.FileName));
    parameters->setText(Qs(tool.Params));
    EditMode = true;
    EditIndex = index;
}

void Tform_add_png_optimizer::Button1Click() {
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
    const QString path = OpenDialog1->selectedFiles().first();
    tool_path->setText(path);
    if (tool_name->text().isEmpty()) tool_name->setText(QFileInfo(path).completeBaseName());
}

void Tform_add_png_optimizer::Button2Click() {
    const TOptimizationTool tool{tool_name->text().toStdString(), tool_path->text().toStdString(),
                                 parameters->text().toStdString(), ""};
    if (const auto error = PresetEntryError(m_presets, tool, EditMode ? EditIndex : -1)) {
        ShowMessageBox(this, engine::MessageKind::Error, *error, engine::MessageButtons::Ok);
        return;
    }
    std::string oldName;
    if (EditMode) {
        oldName = m_presets.presets().tools().At(EditIndex).Name;
        m_presets.replace(EditIndex, tool);
        m_storedIndex = EditIndex;
    } else {
        m_storedIndex = m_presets.add(tool);
    }
    store(tool, oldName);
    accept();
}

void Tform_add_png_optimizer::store(const TOptimizationTool& tool, const std::string& oldName) {
    // A store that failed to open is never written: the preset lives in memory.
    if (!m_externalTools.isOpen()) return;
    if (EditMode && oldName != tool.Name) m_externalTools.EraseSection(oldName);
    m_externalTools.WriteString(tool.Name, optimizers::kFileNameKey, tool.FileName);
    m_externalTools.WriteString(tool.Name, optimizers::kParamsKey, tool.Params);
}

}  // namespace pimo::ui
