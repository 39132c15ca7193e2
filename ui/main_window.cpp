#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolBar>
#include <QToolTip>
#include <QVBoxLayout>

#include "ui/bitmap_image.h"

namespace pimo::ui {

namespace {
constexpr const char* kNoImageTitle = "PIMO - No image loaded";
constexpr const char* kVersionTag = "PIMO-0.5.0-FI-3.15.3";

QString Qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

TForm1::TForm1(QStringList arguments, QWidget* parent)
    : QMainWindow(parent), m_engine(*this), m_arguments(std::move(arguments)) {
    buildWidgets();
    buildActions();
    setWindowTitle(kNoImageTitle);
    resize(792, 580);
    Timer1.setSingleShot(true);
    Timer1.setInterval(200);
    connect(&Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer1.start();
}

TForm1::~TForm1() { imagelib::FreeImage_SetOutputMessage(nullptr); }

void TForm1::buildWidgets() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* panes = new QHBoxLayout;
    auto* sourceColumn = new QVBoxLayout;
    auto* resultColumn = new QVBoxLayout;
    Image1 = new ImagePane;
    Image2 = new ImagePane;
    dim_img_initiala = new QLabel;
    dim_img_optimizata = new QLabel;
    dim_img_initiala->setObjectName("dim_img_initiala");
    dim_img_optimizata->setObjectName("dim_img_optimizata");
    sourceColumn->addWidget(new QLabel(tr("Original")));
    sourceColumn->addWidget(Image1, 1);
    sourceColumn->addWidget(dim_img_initiala);
    resultColumn->addWidget(new QLabel(tr("Optimized")));
    resultColumn->addWidget(Image2, 1);
    resultColumn->addWidget(dim_img_optimizata);
    panes->addLayout(sourceColumn, 1);
    panes->addLayout(resultColumn, 1);
    layout->addLayout(panes, 1);

    auto* quality = new QHBoxLayout;
    jpeg_qscroll = new QSlider(Qt::Horizontal);
    jpeg_qscroll->setObjectName("jpeg_qscroll");
    jpeg_qscroll->setRange(1, 100);
    jpeg_qscroll->setValue(m_engine.settings.JPEGQuality);
    jpeg_calitate = new QSpinBox;
    jpeg_calitate->setObjectName("jpeg_calitate");
    jpeg_calitate->setRange(1, 100);
    jpeg_calitate->setValue(m_engine.settings.JPEGQuality);
    quality->addWidget(new QLabel(tr("JPEG quality:")));
    quality->addWidget(jpeg_qscroll, 1);
    quality->addWidget(jpeg_calitate);
    layout->addLayout(quality);
    setCentralWidget(central);

    // The slider and the edit mirror each other; both end in one settings change.
    connect(jpeg_qscroll, &QSlider::valueChanged, this, &TForm1::jpeg_qscrollChange);
    connect(jpeg_calitate, qOverload<int>(&QSpinBox::valueChanged), jpeg_qscroll, &QSlider::setValue);

    for (int i = 0; i < 4; ++i) {
        m_statusPanels[i] = new QLabel;
        statusBar()->addWidget(m_statusPanels[i], i == 0 ? 1 : 0);
    }
    m_statusPanels[0]->setText("Ready");
}

void TForm1::buildActions() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QToolBar* tools = addToolBar(tr("Main"));
    tools->setObjectName("ToolBar1");

    QAction* open = file->addAction(tr("&Open..."), this, &TForm1::open_btnClick);
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    m_saveAs = file->addAction(tr("Save &as..."), this, &TForm1::save_asExecute);
    m_saveAs->setObjectName("save_as");
    m_saveAs->setShortcut(QKeySequence(Qt::Key_S));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setObjectName("Quit1");
    quit->setShortcut(QKeySequence(Qt::Key_Escape));
    tools->addAction(open);
    tools->addAction(m_saveAs);
    updateSaveActions();
}

void TForm1::Timer1Timer() {
    const std::string version = imagelib::FreeImage_GetVersion();
    if (version.find(kVersionTag) == std::string::npos) {
        showMessage(engine::MessageKind::Warning,
                    "The current version of the FreeImage library used (" + version +
                        ") is not fully compatible with this version of PIMO.\nSome features may not work "
                        "properly.\n\nPlease use the FreeImage.dll that came with this version of PIMO.",
                    engine::MessageButtons::Ok);
    }
    m_engine.RegisterOutputMessageHandler();
    imagelib::FreeImage_SetProgress([this](int) { processPendingEvents(); });
    m_engine.ResultStale = false;
    if (m_arguments.size() == 1 && QFileInfo(m_arguments.front()).isFile()) openFile(m_arguments.front());
    emit startedUp();
}

bool TForm1::openFile(const QString& path) {
    const bool loaded = m_engine.LoadImageFile(path.toStdString());
    updateSaveActions();
    return loaded;
}

void TForm1::open_btnClick() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open image"));
    if (!path.isEmpty()) openFile(path);
}

void TForm1::save_asExecute() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save as"), QString(),
                                                      "JPEG Image (*.jpg *.jif *.jpeg *.jpe)");
    if (path.isEmpty()) return;
    QString target = path;
    if (QFileInfo(target).suffix().isEmpty()) target += ".jpg";
    if (!m_engine.WriteResultToFile(target.toStdString(), true)) {
        showMessage(engine::MessageKind::Error, "Failed to write " + target.toStdString(), engine::MessageButtons::Ok);
    } else {
        m_engine.ResultUnsaved = false;
    }
    updateSaveActions();
}

void TForm1::jpeg_qscrollChange(int value) {
    {
        const QSignalBlocker block(jpeg_calitate);
        jpeg_calitate->setValue(value);
    }
    m_engine.settings.JPEGQuality = value;
    if (m_suppressSettingsEvents) return;
    m_engine.ResultStale = true;
    if (m_engine.AutomaticPreview) m_engine.PreviewImage();
    updateSaveActions();
}

void TForm1::updateSaveActions() {
    m_saveAs->setEnabled(m_engine.ResultStream && m_engine.SourceBitmap && !m_engine.ResultStale);
}

// ---- engine::Host ----

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
    using engine::MessageAnswer;
    const QMessageBox::StandardButtons choices =
        buttons == engine::MessageButtons::Ok      ? QMessageBox::Ok
        : buttons == engine::MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                   : QMessageBox::Yes | QMessageBox::Abort;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (kind == engine::MessageKind::Warning) icon = QMessageBox::Warning;
    if (kind == engine::MessageKind::Error) icon = QMessageBox::Critical;
    if (kind == engine::MessageKind::Confirmation) icon = QMessageBox::Question;
    QMessageBox box(icon, QApplication::applicationName(), Qs(text), choices, this);
    switch (box.exec()) {
        case QMessageBox::Yes: return MessageAnswer::Yes;
        case QMessageBox::No: return MessageAnswer::No;
        case QMessageBox::Abort: return MessageAnswer::Abort;
        default: return MessageAnswer::Ok;
    }
}

void TForm1::showBalloon(const std::string& title, const std::string& description, int timeoutMs) {
    const QString text = "<b>" + Qs(title).toHtmlEscaped() + "</b>" +
                         (description.empty() ? QString() : "<br>" + Qs(description).toHtmlEscaped().replace("\n", "<br>"));
    QToolTip::showText(Image2->mapToGlobal(Image2->rect().center()), text, Image2, {}, timeoutMs);
}

void TForm1::hideBalloon() { QToolTip::hideText(); }

void TForm1::processPendingEvents() { QApplication::processEvents(); }

void TForm1::setMainWindowEnabled(bool enabled) { centralWidget()->setEnabled(enabled); }

void TForm1::showNoImage() {
    Image1->clear();
    Image2->clear();
    dim_img_initiala->clear();
    dim_img_optimizata->clear();
    setWindowTitle(kNoImageTitle);
    updateSaveActions();
}

void TForm1::showFileInformation(const std::string& caption, const std::string& sizeText,
                                 const std::string& sizeHint) {
    setWindowTitle(Qs(caption));
    dim_img_initiala->setText(Qs(sizeText));
    dim_img_initiala->setToolTip(Qs(sizeHint));
}

void TForm1::showSourceImage(bool actualSize) {
    Image1->setFitToWindow(!actualSize);
    Image2->setFitToWindow(!actualSize);
    Image1->setImage(ToQImage(m_engine.SourceBitmap.get()));
}

bool TForm1::showResultImage() {
    if (!m_engine.WorkingBitmap) {
        Image2->clear();
        return false;
    }
    Image2->setImage(ToQImage(m_engine.WorkingBitmap.get()));
    return Image2->hasPicture();
}

void TForm1::showResultSize(const std::string& sizeText, const std::string& sizeHint, bool smaller) {
    dim_img_optimizata->setText(Qs(sizeText));
    dim_img_optimizata->setToolTip(Qs(sizeHint));
    // Green when the result is smaller than the source, maroon otherwise.
    dim_img_optimizata->setStyleSheet(smaller ? "color: rgb(0,128,0);" : "color: rgb(128,0,0);");
    updateSaveActions();
}

}  // namespace pimo::ui
