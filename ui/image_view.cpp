#include "ui/image_view.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

#include "ui/icons.h"
#include "ui/named.h"

namespace pimo::ui {
namespace {

const QColor kPaneBackground(48, 48, 48);
// The caption row above the panes, and the gap between them that holds the
// zoom toolbar.
constexpr int kCaptionHeight = 30;
constexpr int kHalfGap = 13;
constexpr int kSingleViewToolbarWidth = 25;
constexpr int kCaptionIndent = 35;
constexpr int kSizeTextGap = 17;
// One notch of a common mouse wheel; finer wheels add up to it.
constexpr int kWheelNotch = 120;

// A logical rectangle of a widget in device pixels, grown to whole pixels.
QRect DeviceRect(const QRect& logical, qreal ratio) {
    const int left = static_cast<int>(std::floor(logical.x() * ratio));
    const int top = static_cast<int>(std::floor(logical.y() * ratio));
    const int right = static_cast<int>(std::ceil((logical.x() + logical.width()) * ratio));
    const int bottom = static_cast<int>(std::ceil((logical.y() + logical.height()) * ratio));
    return QRect(left, top, right - left, bottom - top);
}

QFrame* Pane(const char* name, QWidget* parent) {
    auto* pane = Named(new QFrame(parent), name);
    // Two pixels of frame on every side: the client area is the pane less 4.
    pane->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    pane->setLineWidth(2);
    return pane;
}

}  // namespace

ImageCanvas::ImageCanvas(const ImageView& view, bool sourceSide, QWidget* parent)
    : QWidget(parent), m_view(view), m_sourceSide(sourceSide) {
    // Every pixel is painted below, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageCanvas::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Work in device pixels, so that 100 % is one image pixel per device pixel.
    const qreal ratio = devicePixelRatioF();
    painter.scale(1.0 / ratio, 1.0 / ratio);
    const QRect clip = DeviceRect(event->rect(), ratio);
    const DisplayImage& picture = m_view.pictureFor(m_sourceSide);
    const ViewportState& state = m_view.viewport();
    const QRect target = picture.isNull() ? QRect()
                                          : QRect(state.position.x, state.position.y,
                                                  state.view.width, state.view.height);
    QRegion background(clip);
    if (!picture.hasAlpha()) background -= target;
    for (const QRect& rect : background) painter.fillRect(rect, kPaneBackground);
    picture.draw(painter, target, clip);
}

namespace {

// On X11 the shortcut map sees a keypad key without its keypad modifier, so a
// keypad shortcut is also bound to the same key as the main keyboard's.
QList<QKeySequence> WithoutKeypadToo(const QKeySequence& key) {
    QList<QKeySequence> keys{key};
    if (!key.isEmpty() && key[0].keyboardModifiers().testFlag(Qt::KeypadModifier)) {
        keys.append(QKeySequence(key[0].key()));
    }
    return keys;
}

}  // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setObjectName("Panel4");
    buildActions();
    buildPanes();
    updateZoomControls();
    setDualView(true);
}

void ImageView::buildActions() {
    auto action = [this](const char* name, const QString& text, const char* icon,
                         const QKeySequence& key) {
        auto* made = Named(new QAction(ToolbarIcon(icon), text, this), name);
        made->setShortcuts(WithoutKeypadToo(key));
        return made;
    };
    m_zoomIn = action("zoom_in", tr("Zoom in"), "zoom_in", Qt::KeypadModifier | Qt::Key_Plus);
    m_zoomOut = action("zoom_out", tr("Zoom out"), "zoom_out", Qt::KeypadModifier | Qt::Key_Minus);
    m_actualSize = action("actual_size", tr("Actual size"), "actual_size",
                          Qt::KeypadModifier | Qt::Key_Asterisk);
    m_fitInWindow =
        action("fit_in_window", tr("Fit in window"), "fit", Qt::KeypadModifier | Qt::Key_Slash);
    m_compare = action("inplace_compare", tr("Hold to compare with the original"), "compare", {});
    m_dualViewAction = action("action_dual_View", tr("Dual view"), "mode", Qt::SHIFT | Qt::Key_D);
    m_fitOnlyBigAction =
        action("action_fob", tr("Fit in window only big images"), "fit", Qt::SHIFT | Qt::Key_F);
    m_dualViewAction->setCheckable(true);
    m_fitOnlyBigAction->setCheckable(true);
    m_fitOnlyBigAction->setChecked(m_fitOnlyBig);
    // Key shortcuts reach the view wherever the focus is in its window.
    addActions(
        {m_zoomIn, m_zoomOut, m_actualSize, m_fitInWindow, m_dualViewAction, m_fitOnlyBigAction});

    connect(m_zoomIn, &QAction::triggered, this, &ImageView::zoom_inExecute);
    connect(m_zoomOut, &QAction::triggered, this, &ImageView::zoom_outExecute);
    connect(m_actualSize, &QAction::triggered, this, &ImageView::actual_sizeExecute);
    connect(m_fitInWindow, &QAction::triggered, this, &ImageView::fit_in_windowExecute);
    connect(m_dualViewAction, &QAction::toggled, this, &ImageView::setDualView);
    connect(m_fitOnlyBigAction, &QAction::toggled, this, &ImageView::setFitOnlyBig);
}

void ImageView::buildPanes() {
    ScrollBox1 = Pane("ScrollBox1", this);
    ScrollBox2 = Pane("ScrollBox2", this);
    Image1 = Named(new ImageCanvas(*this, true, ScrollBox1), "Image1");
    Image2 = Named(new ImageCanvas(*this, false, ScrollBox2), "Image2");
    for (ImageCanvas* canvas : {Image1, Image2}) {
        canvas->installEventFilter(this);
        auto* layout = new QHBoxLayout(canvas->parentWidget());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(canvas);
    }

    ZoomToolbar = Named(new QToolBar(this), "ZoomToolbar");
    ZoomToolbar->setOrientation(Qt::Vertical);
    ZoomToolbar->setIconSize(QSize(16, 16));
    ZoomToolbar->addActions({m_zoomIn, m_zoomOut, m_actualSize, m_fitInWindow, m_compare});
    // Compare while the button is held, not on a click.
    auto* compareButton = qobject_cast<QToolButton*>(ZoomToolbar->widgetForAction(m_compare));
    connect(compareButton, &QToolButton::pressed, this, [this] { setComparing(true); });
    connect(compareButton, &QToolButton::released, this, [this] { setComparing(false); });
    // No hint pops up over the picture while the button is held.
    compareButton->installEventFilter(this);

    Label8 = Named(new QLabel(tr("Original"), this), "Label8");
    dim_img_initiala = Named(new QLabel(this), "dim_img_initiala");
    Label_Optimized = Named(new QLabel(tr("Optimized"), this), "Label_Optimized");
    dim_img_optimizata = Named(new QLabel(this), "dim_img_optimizata");
    quality_score = Named(new QLabel(this), "quality_score");
    quality_score->setToolTip(
        tr("How close the result looks to the original: 0 is identical, about 1 is where a "
           "difference starts to show"));
    QFont bold = dim_img_optimizata->font();
    bold.setBold(true);
    dim_img_optimizata->setFont(bold);
}

void ImageView::setSourceImage(const QImage& image) {
    const QSize previous = m_source.size();
    m_source = DisplayImage(image);
    updateZoomControls();
    if (m_source.isNull())
        m_state = {};
    else if (m_source.size() != previous)
        fit_in_windowExecute();
    Image1->update();
    Image2->update();
}

void ImageView::setResultImage(const QImage& image, int reduction, QSize fullSize) {
    m_result = reduction > 1 ? DisplayImage(image, reduction, fullSize) : DisplayImage(image);
    m_detailAsked = 0;
    updateZoomControls();
    askForResultDetail();
    // Only the pane that shows the result changes: the source pane's picture
    // is the same (unless comparing swapped them).
    (m_comparing ? Image1 : Image2)->update();
}

void ImageView::setResultDetail(DisplayImage picture) {
    if (m_result.isNull() || picture.isNull() || picture.size() != m_result.size() ||
        picture.reduction() >= m_result.reduction())
        return;
    m_result = std::move(picture);
    m_detailAsked = 0;
    askForResultDetail();  // the zoom may have gone on meanwhile
    (m_comparing ? Image1 : Image2)->update();
}

int ImageView::resultReductionFor(int width, int height) const {
    return DisplayReduction({width, height}, m_state.view);
}

void ImageView::askForResultDetail() {
    if (m_result.isNull() || m_result.reduction() == 1) return;
    const int wanted = resultReductionFor(m_result.size().width(), m_result.size().height());
    if (wanted >= m_result.reduction() || wanted == m_detailAsked) return;
    m_detailAsked = wanted;
    emit resultDetailNeeded(wanted);
}

void ImageView::clear() {
    m_source = DisplayImage();
    m_result = DisplayImage();
    m_detailAsked = 0;
    m_state = {};
    m_fitted = false;
    setComparing(false);
    dim_img_initiala->clear();
    dim_img_initiala->setToolTip({});
    dim_img_optimizata->clear();
    dim_img_optimizata->setToolTip({});
    quality_score->clear();
    updateZoomControls();
    layOut();
    Image1->update();
    Image2->update();
}

void ImageView::setSourceSizeText(const QString& text, const QString& hint) {
    dim_img_initiala->setText(text);
    dim_img_initiala->setToolTip(hint);
    layOut();
}

void ImageView::setResultSizeText(const QString& text, const QString& hint, const QColor& colour) {
    dim_img_optimizata->setText(text);
    dim_img_optimizata->setToolTip(hint);
    QPalette palette = dim_img_optimizata->palette();
    palette.setColor(QPalette::WindowText, colour);
    dim_img_optimizata->setPalette(palette);
    layOut();
}

void ImageView::setQualityText(const QString& text) {
    quality_score->setText(text);
    layOut();
}

void ImageView::setDualView(bool dual) {
    m_dualView = dual;
    if (m_dualViewAction->isChecked() != dual) m_dualViewAction->setChecked(dual);
    ScrollBox1->setVisible(dual);
    Label8->setVisible(dual);
    dim_img_initiala->setVisible(dual);
    layOut();
    fit_in_windowExecute();
    update();
}

void ImageView::setFitOnlyBig(bool on) {
    m_fitOnlyBig = on;
    if (m_fitOnlyBigAction->isChecked() != on) m_fitOnlyBigAction->setChecked(on);
}

void ImageView::setZoomFactor(float factor) {
    m_zoomFactor = ClampedZoomFactor(factor);
}

ViewSize ImageView::clientSize() const {
    const qreal ratio = Image2->devicePixelRatioF();
    return {static_cast<int>(std::lround(Image2->width() * ratio)),
            static_cast<int>(std::lround(Image2->height() * ratio))};
}

ViewSize ImageView::sourceSize() const {
    return {m_source.size().width(), m_source.size().height()};
}

const DisplayImage& ImageView::pictureFor(bool sourceSide) const {
    // Comparing swaps the pictures: the result's place shows the source.
    return sourceSide != m_comparing ? m_source : m_result;
}

void ImageView::zoom_inExecute() {
    if (m_source.isNull()) return;
    applyState(ZoomedState(m_state, clientSize(), m_zoomFactor, ZoomStep::In), false);
    announceZoom();
}

void ImageView::zoom_outExecute() {
    if (m_source.isNull()) return;
    applyState(ZoomedState(m_state, clientSize(), m_zoomFactor, ZoomStep::Out), false);
    announceZoom();
}

void ImageView::actual_sizeExecute() {
    if (m_source.isNull()) return;
    applyState(ActualSizeState(clientSize(), sourceSize()), false);
    announceZoom();
}

void ImageView::fit_in_windowExecute() {
    if (m_source.isNull()) return;
    applyState(FitState(clientSize(), sourceSize(), m_fitOnlyBig), true);
    announceZoom();
}

void ImageView::setComparing(bool comparing) {
    if (comparing && !hasImages()) comparing = false;
    if (m_comparing == comparing) return;
    m_comparing = comparing;
    Image1->update();
    Image2->update();
}

void ImageView::applyState(const ViewportState& state, bool fitted) {
    m_state = state;
    m_fitted = fitted;
    askForResultDetail();
    Image1->update();
    Image2->update();
}

void ImageView::announceZoom() {
    const int percent = m_state.mode == ViewMode::Actual
                            ? 100
                            : ZoomPercent(m_source.size().width(), m_state.view.width);
    emit zoomTextChanged(QString::fromStdString(ZoomText(percent)));
}

void ImageView::updateZoomControls() {
    const bool source = !m_source.isNull();
    for (QAction* action : {m_zoomIn, m_zoomOut, m_actualSize, m_fitInWindow})
        action->setEnabled(source);
    m_compare->setEnabled(hasImages());
}

void ImageView::layOut() {
    const int width = this->width();
    const int paneHeight = std::max(0, height() - kCaptionHeight);
    const int half = width / 2;
    if (m_dualView) {
        const int paneWidth = std::max(0, half - kHalfGap);
        ScrollBox1->setGeometry(0, kCaptionHeight, paneWidth, paneHeight);
        ScrollBox2->setGeometry(half + kHalfGap, kCaptionHeight, paneWidth, paneHeight);
        ZoomToolbar->setGeometry(paneWidth, kCaptionHeight, 2 * kHalfGap, paneHeight);
    } else {
        ScrollBox2->setGeometry(kSingleViewToolbarWidth, kCaptionHeight,
                                std::max(0, width - kSingleViewToolbarWidth), paneHeight);
        ZoomToolbar->setGeometry(0, kCaptionHeight, kSingleViewToolbarWidth, paneHeight);
    }
    // Captions: each pane's name with its size text beside it.
    for (QLabel* label :
         {Label8, dim_img_initiala, Label_Optimized, dim_img_optimizata, quality_score})
        label->adjustSize();
    const int top = (kCaptionHeight - Label_Optimized->height()) / 2;
    Label8->move(kCaptionIndent, top);
    dim_img_initiala->move(Label8->geometry().right() + kSizeTextGap, top);
    int captionLeft = half + kCaptionIndent;
    if (!m_dualView) {
        const int both = Label_Optimized->width() + kSizeTextGap + dim_img_optimizata->width();
        captionLeft = ScrollBox2->x() + ScrollBox2->width() / 2 - both / 2;
    }
    Label_Optimized->move(captionLeft, top);
    dim_img_optimizata->move(Label_Optimized->geometry().right() + kSizeTextGap, top);
    quality_score->move(dim_img_optimizata->geometry().right() + 2 * kSizeTextGap, top);
}

void ImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOut();
    if (m_source.isNull()) return;
    m_state = ResizedState(m_state, clientSize(), sourceSize(), m_fitted, m_fitOnlyBig);
    askForResultDetail();
    if (m_fitted) announceZoom();
}

void ImageView::wheelEvent(QWheelEvent* event) {
    event->setAccepted(wheelZoomed(event));
}

bool ImageView::wheelZoomed(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) return false;
    m_wheelRemainder += event->angleDelta().y();
    for (; m_wheelRemainder >= kWheelNotch; m_wheelRemainder -= kWheelNotch) zoom_inExecute();
    for (; m_wheelRemainder <= -kWheelNotch; m_wheelRemainder += kWheelNotch) zoom_outExecute();
    return true;
}

bool ImageView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) return m_comparing;
    // The compare button is watched for its hint only: its presses are its own.
    if (watched != Image1 && watched != Image2) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            m_panCanvas = watched;
            return mousePressed(static_cast<QMouseEvent*>(event));
        case QEvent::MouseMove:
            return mouseMoved(watched, static_cast<QMouseEvent*>(event));
        case QEvent::MouseButtonRelease:
            mouseReleased(watched);
            return false;
        case QEvent::Wheel:
            return wheelZoomed(static_cast<QWheelEvent*>(event));
        default:
            return QWidget::eventFilter(watched, event);
    }
}

bool ImageView::mousePressed(QMouseEvent* event) {
    m_panning = false;
    if (event->button() != Qt::LeftButton || m_source.isNull()) return false;
    if (ViewFits(clientSize(), m_state.view)) return false;
    m_panning = true;
    m_panLast = event->globalPosition();
    static_cast<QWidget*>(m_panCanvas)->setCursor(Qt::SizeAllCursor);
    return true;
}

bool ImageView::mouseMoved(QObject* canvas, QMouseEvent* event) {
    if (canvas != m_panCanvas || !m_panning || !(event->buttons() & Qt::LeftButton)) return false;
    const qreal ratio = devicePixelRatioF();
    const QPointF moved = (event->globalPosition() - m_panLast) * ratio;
    const int dx = static_cast<int>(std::lround(moved.x()));
    const int dy = static_cast<int>(std::lround(moved.y()));
    if (dx == 0 && dy == 0) return true;
    // Keep the part of the movement not yet applied for the next step.
    m_panLast += QPointF(dx, dy) / ratio;
    const ViewportState panned = PannedState(m_state, clientSize(), dx, dy);
    if (panned == m_state) return true;
    m_state = panned;
    // Both panes at once, so they are never seen apart.
    Image1->repaint();
    Image2->repaint();
    return true;
}

void ImageView::mouseReleased(QObject* canvas) {
    m_panning = false;
    static_cast<QWidget*>(canvas)->unsetCursor();
}

}  // namespace pimo::ui
