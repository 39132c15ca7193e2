#pragma once
// What a batch run did and what it will do, as text: the totals that the
// command line prints at its end and the batch window shows, and a one-line
// description of the format and settings a run applies.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/optimization_settings.h"

namespace pimo::batch {

struct BatchEntryResult;

/// Running totals over the entries of a run.
struct BatchTotals {
    std::size_t processed = 0;  // entries that were not skipped, failed ones included
    std::size_t failed = 0;
    std::size_t skipped = 0;
    /// Bytes of the sources and of the outputs of the entries that succeeded.
    std::int64_t bytesBefore = 0;
    std::int64_t bytesAfter = 0;

    /// Counts one entry's result.
    void Add(const BatchEntryResult& result);
    /// The share of `bytesBefore` saved, in percent; 0 when nothing was read.
    /// Negative when the outputs are larger.
    double SavedPercent() const;
};

/// "3 file(s) processed, 1 failed, 0 skipped; 120000 bytes before, 90000
/// bytes after, 25.00% saved".
std::string BatchSummaryText(const BatchTotals& totals);

/// The format and settings a run applies, e.g. "JPEG, quality 75, 4:2:0,
/// progressive". In the automatic modes, which choose per image, it says so.
/// `optimizerName` is the item of the selected external optimizer, named when
/// it is applied to PNG results.
std::string RunDescription(const engine::OptimizationSettings& settings,
                           std::string_view optimizerName = {});

}  // namespace pimo::batch
