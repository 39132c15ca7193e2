#pragma once
// The batch run: the checks made when the user starts it, and the run that
// takes every entry through an engine (load, optional tasks, optimization
// with the settings the run started with, write) with the output naming,
// backups, time stamps and deletion of originals. No toolkit: the window
// (or the command line) supplies a Host for the checks' messages and
// callbacks for progress, status and Stop.
//
// Nothing is lost, whatever happens: every file is written to a temporary
// file of our own beside its target, flushed, read back and decoded, then
// renamed over the target; a file is replaced only after its backup (when
// one is asked for) exists, and a backup is never replaced; no entry
// replaces another input of its run or an output an earlier entry wrote;
// only regular files are opened; a source of several frames or pages is not
// reduced to one unless that is asked for, and is never deleted; a source
// the library reported errors for while loading it is never processed; an
// original is deleted only once its output is on the disk.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_list.h"
#include "batch/batch_settings.h"
#include "batch/batch_summary.h"
#include "batch/run_files.h"
#include "engine/optimization_settings.h"
#include "engine/quality_score.h"

namespace pimo::engine {
class Engine;
class Host;
}  // namespace pimo::engine

namespace pimo::batch {

/// Everything a run needs, settled by the checks. Plain data: parallel
/// workers may share one job.
struct BatchJob {
    BatchOptions options;
    /// The settings the run started with; every entry starts from them, so
    /// the result of an entry does not depend on the entries before it.
    engine::OptimizationSettings settings;
    /// The extensions the program reads (",jpg,png,..."); other entries are skipped.
    std::string readableExtensions;
    /// The compress-to-size target in bytes; 0 when the task is off.
    std::int64_t TargetBytes = 0;
    /// A source of several frames or pages is written as its first frame;
    /// otherwise it is skipped.
    bool FirstFrameOnly = false;
    /// The quality target: the largest perceptual distance from the source
    /// an output may have; 0 when the task is off.
    double TargetDistance = 0;
    /// Whether each written output is scored against its source.
    bool ScoreResults = false;
};

/// The checks made when the run is started, in order: an output folder is
/// given; overwriting or deleting is confirmed (Yes/Abort); a resize has a
/// size and, with percent and kept aspect, equal sizes; a compress-to-size
/// threshold, its decimal separator first normalised to `decimalSeparator`
/// (the text in `options` is updated), is a positive number of KiB; the
/// output folder exists or can be created. The first failing check shows its
/// message through `host` and gives none; otherwise the job, with
/// `settings` as the run's settings.
std::optional<BatchJob> PrepareBatchRun(BatchOptions& options,
                                        const engine::OptimizationSettings& settings,
                                        std::string readableExtensions, engine::Host& host,
                                        std::string_view decimalSeparator);

/// What became of one entry.
struct BatchEntryResult {
    /// "-12.35% decrease", "+3.1% increase" or "no change", with
    /// ",overwritten" and the deletion notes appended; "error"; "skipped".
    std::string Status;
    bool Skipped = false;  // an unreadable extension: no progress step, no log
    bool Failed = false;
    /// The path written (or that would have been); empty when the entry
    /// failed before it was decided.
    std::string Destination;
    std::string FailureDetail;
    std::int64_t OriginalSize = -1;  // bytes of the source, -1 when not found
    std::uint32_t ResultSize =
        0;  // bytes of the output; the source's size when the source was kept
    /// Keeping date and time was on but the source's times could not be
    /// read: a run switches keeping off for the rest of its entries.
    bool TimesUnreadable = false;
    /// The library's messages during the entry, then, for a failed entry,
    /// "Failed to save ...", "Source image: ...", "Error: ..." (when there
    /// is a detail) and an empty line.
    std::vector<std::string> ErrorLog;
    /// The written output's distance from its source, when scoring was asked
    /// for and the output could be scored.
    std::optional<engine::QualityScore> Score;
    /// The quality or colour count the quality target chose; 0 when none.
    int ChosenSetting = 0;
};

/// Processes one entry with `engine` (which it leaves with Interactive and
/// the settings as they were, the image loaded). Its own message handler
/// collects the library's messages while it runs. Never throws: a failure
/// is an "error" result. Two engines given the same job and path produce
/// the same bytes, so parallel workers may each use their own. `runFiles`,
/// shared by the entries of one run, keeps an entry from replacing another
/// input of the run or a file an earlier entry wrote.
BatchEntryResult ProcessBatchEntry(engine::Engine& engine, const BatchJob& job,
                                   const std::string& sourcePath,
                                   BatchRunFiles* runFiles = nullptr);

struct BatchCallbacks {
    /// The list was sorted, its duplicates removed and every status emptied.
    std::function<void()> listReordered;
    /// Entry `index` is next: process pending events, scroll it into view.
    std::function<void(std::size_t index)> entryStarting;
    /// Asked right after entryStarting; true ends the run before that entry.
    std::function<bool()> stopRequested;
    /// The status of entry `index` changed ("working", then its result).
    std::function<void(std::size_t index, const TBatchItem& item)> statusChanged;
    /// An entry that was not skipped is done; `done` counts them.
    std::function<void(std::size_t done)> progressed;
};

struct BatchRunSummary {
    /// Every library message of the run ("<format> error: <message>") and
    /// the lines of every failed entry, in order.
    std::vector<std::string> ErrorLog;
    std::size_t processed = 0;  // entries that were not skipped
    std::size_t failed = 0;
    bool stopped = false;
    /// Files and bytes before and after, for the closing summary.
    BatchTotals totals;
};

/// Runs the list in order through `engine` with Interactive off, after
/// sorting it and removing exact duplicates and other names of one file. Stop is honoured between
/// entries. Afterwards the engine's images are released; Interactive, the
/// settings and the library's message handler are as before, also when an
/// exception ends the run.
BatchRunSummary RunBatch(engine::Engine& engine, BatchItems& items, const BatchJob& job,
                         const BatchCallbacks& callbacks = {});

// ---- texts ----

/// "-12.35% decrease", "+3.1% increase" or "no change" for a result of
/// `resultSize` bytes from a source of `originalSize` bytes.
std::string SizeChangeStatus(std::int64_t resultSize, std::int64_t originalSize);

/// An error-log line for a library message: the library's name of the
/// format (empty when there is none), " error: " and the message.
std::string LibraryMessageLine(int format, const std::string& message);

/// Where the output of `sourcePath` goes: the source itself or its sibling
/// with the output extension when saving in the original folder, else the
/// output folder with the source's name (same format) or the name with the
/// output extension.
std::string DestinationFor(const std::string& sourcePath, bool sameFormat, int outputFormat,
                           const BatchOptions& options);

}  // namespace pimo::batch
