#pragma once
// More of the result's pixels for a closer zoom, decoded away from the
// window's thread: the view keeps drawing the reduced result meanwhile, so a
// zoom step never waits for a decode. Only the newest request waits while
// one is being decoded; a picture for a result that has gone since is
// dropped.

#include <QObject>
#include <QSize>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "ui/display_image.h"

namespace pimo::ui {

class ResultDetailDecoder : public QObject {
    Q_OBJECT
  public:
    explicit ResultDetailDecoder(QObject* parent = nullptr);
    /// Waits for a decode still running.
    ~ResultDetailDecoder() override;

    /// Decodes the JPEG result `encoded`, of `fullSize` pixels, `reduction`
    /// times smaller (1: all of its pixels).
    void decode(std::vector<std::uint8_t> encoded, int reduction, QSize fullSize);
    /// A new result, or none: nothing asked for before is delivered.
    void forget();

  signals:
    /// The picture of the result current when it was asked for.
    void decoded(const pimo::ui::DisplayImage& picture);

  private:
    struct Request {
        std::vector<std::uint8_t> encoded;
        int reduction = 1;
        QSize fullSize;
    };
    void startNext();
    void finished(unsigned generation, const DisplayImage& picture);

    std::optional<Request> m_waiting;
    std::jthread m_worker;
    bool m_running = false;
    unsigned m_generation = 0;  // counts the results
};

/// The picture a JPEG result decodes to for display at `reduction` (less
/// reduced, or full, when the reduced decode declines it); null when the
/// bytes do not decode.
DisplayImage DecodedResultPicture(const std::vector<std::uint8_t>& encoded, int reduction,
                                  QSize fullSize);

}  // namespace pimo::ui
