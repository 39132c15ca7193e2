// Where the main window's images come from and go: opening, dropping,
// pasting, saving, and handing files to the batch window.

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "engine/clipboard_dib.h"
#include "engine/open_filter.h"
#include "engine/save_plan.h"
#include "ui/dialog_filter.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "util/pimoutil.h"

namespace pimo::ui {

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
    m_paste->setEnabled(m_clipboardHasImage && !m_engine.Busy());
}

}  // namespace pimo::ui
