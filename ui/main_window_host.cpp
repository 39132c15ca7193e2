// The main window as the engine's host: status, messages, busy state,
// progress and what it shows of the source and the result.

#include <QApplication>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>

#include "engine/imagelib/freeimage_ext.h"
#include "ui/bitmap_image.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/named.h"
#include "util/pimoutil.h"

namespace pimo::ui {

// Over status panel 1, hidden until the library starts a long call.
void TForm1::buildProgressBar() {
    m_progressBar = new QProgressBar(statusBar());
    m_progressBar->setObjectName("ProgressBar");
    m_progressBar->setRange(0, 10000);
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();
}

// At the status bar's end while an external optimizer runs: every other
// command is quiet then, and the tool may take minutes.
void TForm1::buildOptimizerStop() {
    stop_optimizer = Named(new QPushButton(tr("Stop optimizer")), "stop_optimizer");
    stop_optimizer->setToolTip(tr("End the PNG optimizer and keep the result as it was (Esc)"));
    stop_optimizer->setShortcut(Qt::Key_Escape);
    stop_optimizer->hide();
    statusBar()->addPermanentWidget(stop_optimizer);
    m_busyGuard->allow(stop_optimizer);
    connect(stop_optimizer, &QPushButton::clicked, this, [this] { m_optimizerStopAsked = true; });
    m_runner->stopRequested = [this] { return m_optimizerStopAsked; };
    m_runner->runningChanged = [this](bool running) {
        m_optimizerStopAsked = false;
        stop_optimizer->setVisible(running);
    };
}

void TForm1::libraryProgress(int value) {
    // Enough to repaint and to follow the progress timer's ticks.
    constexpr qint64 kPendingEventsIntervalMs = 20;
    if (value == 0) {
        m_sincePendingEvents.start();
        ProgressTimer.start();
        m_progressBar->setValue(0);
        m_progressBar->setGeometry(m_statusPanels[1]->geometry());
        m_progressBar->show();
        m_progressBar->raise();
        return;
    }
    if (value == 10000) {
        ProgressTimer.stop();
        m_progressBar->setValue(0);
        m_progressBar->hide();
        return;
    }
    if (m_sincePendingEvents.elapsed() >= kPendingEventsIntervalMs) {
        processPendingEvents();
        m_sincePendingEvents.start();
    }
    if (m_progressTick) {
        m_progressBar->setValue(value);
        m_progressTick = false;
    }
}

void TForm1::setStatusText(const std::string& text, int panel) {
    if (panel >= 0 && panel < 4) m_statusPanels[panel]->setText(Qs(text));
}

void TForm1::setBusyCursor(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

engine::MessageAnswer TForm1::showMessage(engine::MessageKind kind, const std::string& text,
                                          engine::MessageButtons buttons) {
    return ShowMessageBox(this, kind, text, buttons);
}

void TForm1::showBalloon(const std::string& title, const std::string& description, int timeoutMs) {
    const QString text =
        "<b>" + Qs(title).toHtmlEscaped() + "</b>" +
        (description.empty() ? QString()
                             : "<br>" + Qs(description).toHtmlEscaped().replace("\n", "<br>"));
    QToolTip::showText(Panel4->mapToGlobal(Panel4->rect().center()), text, Panel4, {}, timeoutMs);
}

void TForm1::hideBalloon() {
    QToolTip::hideText();
}

void TForm1::processPendingEvents() {
    QApplication::processEvents();
}

// Every command goes quiet while a long call runs: the menus, the toolbars
// and their shortcuts as well as the panels. The widgets stay as they are,
// so nothing is repainted for it; the wait cursor, the status text and the
// progress bar tell the user that something runs.
void TForm1::setMainWindowEnabled(bool enabled) {
    m_busyGuard->setBusy(!enabled);
    // Quit's key is Esc, as is the stop button's while an external optimizer
    // runs: the key must find the button alone.
    m_quit->setEnabled(!m_busyGuard->busy());
}

void TForm1::showNoImage() {
    m_scorer->clear();
    m_resultDetail->forget();
    m_shownResultEncoded.clear();
    m_curve->sourceChanged();
    m_formatPanel->sourceChanged();
    Panel4->clear();
    m_statusPanels[2]->clear();
    preview_btn->setEnabled(false);
    setWindowTitle(kNoImageTitle);
}

void TForm1::showFileInformation(const std::string& caption, const std::string& sizeText,
                                 const std::string& sizeHint) {
    setWindowTitle(Qs(caption));
    Panel4->setSourceSizeText(Qs(sizeText), Qs(sizeHint));
}

void TForm1::showSourceImage(bool actualSize) {
    Panel4->setSourceImage(ToQImage(m_engine.SourceBitmap.get()));
    if (actualSize) {
        Panel4->actual_sizeExecute();
    } else {
        Panel4->fit_in_windowExecute();
    }
}

unsigned TForm1::resultDisplayReduction(unsigned width, unsigned height) {
    m_resultFullSize = QSize(static_cast<int>(width), static_cast<int>(height));
    return static_cast<unsigned>(
        Panel4->resultReductionFor(m_resultFullSize.width(), m_resultFullSize.height()));
}

bool TForm1::showResultImage() {
    // Whatever was being decoded for the last result is of no use now.
    m_resultDetail->forget();
    m_shownResultEncoded.clear();
    if (!m_engine.WorkingBitmap) {
        Panel4->setResultImage({});
        return false;
    }
    const QImage result = ToQImage(m_engine.WorkingBitmap.get(), Panel4->takeResultImage());
    const int reduction = static_cast<int>(m_engine.ResultReduction);
    m_shownResultSize = reduction > 1 ? m_resultFullSize : result.size();
    // Kept before the view is told: it may want more pixels at once.
    if (reduction > 1 && !result.isNull())
        m_shownResultEncoded = imagelib::StreamBytes(m_engine.ResultStream.get());
    Panel4->setResultImage(result, reduction, m_shownResultSize);
    return !result.isNull();
}

void TForm1::showResultSize(const std::string& sizeText, const std::string& sizeHint,
                            bool smaller) {
    // Green when the result is smaller than the source, maroon otherwise.
    Panel4->setResultSizeText(Qs(sizeText), Qs(sizeHint),
                              smaller ? QColor(0, 128, 0) : QColor(128, 0, 0));
    // A new result: its score follows when it is ready.
    if (m_engine.options.ShowQualityScore) {
        m_scorer->score(engine::CaptureResultScoreInput(m_engine));
    } else {
        m_scorer->clear();
    }
}

void TForm1::engineStateChanged() {
    updateSaveActions();
}

void TForm1::resampleLargeImage() {
    m_imageCommands->resampleExecute();
}

}  // namespace pimo::ui
