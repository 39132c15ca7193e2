#include "ui/image_pane.h"

#include <QPixmap>
#include <QResizeEvent>

namespace pimo::ui {

ImagePane::ImagePane(QWidget* parent) : QScrollArea(parent), m_label(new QLabel) {
    m_label->setAlignment(Qt::AlignCenter);
    setWidget(m_label);
    setWidgetResizable(true);
    setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);
}

void ImagePane::setImage(const QImage& image) {
    m_image = image;
    refresh();
}

void ImagePane::clear() {
    m_image = QImage();
    m_label->clear();
}

void ImagePane::setFitToWindow(bool fit) {
    m_fit = fit;
    refresh();
}

void ImagePane::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (m_fit) refresh();
}

void ImagePane::refresh() {
    if (m_image.isNull()) return;
    const QSize available = viewport()->size();
    // Fit only images larger than the view; small ones stay at actual size.
    const bool shrink =
        m_fit && (m_image.width() > available.width() || m_image.height() > available.height());
    const QImage shown =
        shrink ? m_image.scaled(available, Qt::KeepAspectRatio, Qt::SmoothTransformation) : m_image;
    m_label->setPixmap(QPixmap::fromImage(shown));
}

}  // namespace pimo::ui
