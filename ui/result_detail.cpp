#include "ui/result_detail.h"

#include <QMetaObject>
#include <utility>

#include "engine/engine.h"
#include "ui/bitmap_image.h"

namespace pimo::ui {

DisplayImage DecodedResultPicture(const std::vector<std::uint8_t>& encoded, int reduction,
                                  QSize fullSize) {
    auto applied = static_cast<unsigned>(std::max(1, reduction));
    const engine::Bitmap decoded(engine::DecodeJpegForDisplay(encoded, applied));
    const QImage image = ToQImage(decoded.get());
    if (image.isNull()) return {};
    if (applied == 1) return DisplayImage(image);
    return DisplayImage(image, static_cast<int>(applied), fullSize);
}

ResultDetailDecoder::ResultDetailDecoder(QObject* parent) : QObject(parent) {}

ResultDetailDecoder::~ResultDetailDecoder() {
    if (m_worker.joinable()) m_worker.join();
}

void ResultDetailDecoder::decode(std::vector<std::uint8_t> encoded, int reduction, QSize fullSize) {
    m_waiting = Request{std::move(encoded), reduction, fullSize};
    if (!m_running) startNext();
}

void ResultDetailDecoder::forget() {
    ++m_generation;
    m_waiting.reset();
}

void ResultDetailDecoder::startNext() {
    if (!m_waiting) return;
    if (m_worker.joinable()) m_worker.join();  // it has reported: it ends at once
    m_running = true;
    m_worker = std::jthread(
        [this, generation = m_generation, request = *std::exchange(m_waiting, std::nullopt)] {
            const DisplayImage picture =
                DecodedResultPicture(request.encoded, request.reduction, request.fullSize);
            QMetaObject::invokeMethod(
                this, [this, generation, picture] { finished(generation, picture); },
                Qt::QueuedConnection);
        });
}

void ResultDetailDecoder::finished(unsigned generation, const DisplayImage& picture) {
    m_running = false;
    if (generation == m_generation && !picture.isNull()) emit decoded(picture);
    startNext();
}

}  // namespace pimo::ui
