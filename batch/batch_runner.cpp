// One entry of a batch run, and the run over the whole list.

#include "batch/batch_runner.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "batch/frame_count.h"
#include "batch/output_file.h"
#include "engine/compress_to_size.h"
#include "engine/engine.h"
#include "engine/geometry.h"
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_stream_check.h"
#include "engine/open_filter.h"
#include "engine/target_quality.h"
#include "platform/file_times.h"
#include "platform/known_folders.h"
#include "util/pimoutil.h"

namespace pimo::batch {

namespace fi = imagelib;
using engine::Engine;

namespace {

constexpr const char* kLoadingFailed = "Loading failed.";
constexpr const char* kDamagedSource =
    "The image library reported errors while loading the file: it is damaged or incomplete.";
constexpr const char* kFileExists = "File exists. Overwrite permission required.";
constexpr const char* kNotRegularFile =
    "Not a regular file (a pipe, a device or a folder): it is not opened.";
constexpr const char* kSizeNotReached =
    "Could not obtain the desired filesize. Try with a bigger value.";
constexpr const char* kQualityNotReached =
    "No setting reaches the desired quality; nothing was written. Try with a bigger distance.";

// Routes the library's messages on this thread to `sink` while it lives, and
// gives the previous handler back afterwards, however the scope ends.
class MessageHandlerScope {
  public:
    explicit MessageHandlerScope(fi::OutputMessageHandler sink)
        : m_previous(fi::FreeImage_SetOutputMessage(std::move(sink))) {}
    ~MessageHandlerScope() { fi::FreeImage_SetOutputMessage(std::move(m_previous)); }
    MessageHandlerScope(const MessageHandlerScope&) = delete;
    MessageHandlerScope& operator=(const MessageHandlerScope&) = delete;

  private:
    fi::OutputMessageHandler m_previous;
};

// Runs with Interactive off and the job's settings, and puts back what the
// engine had, so that a run leaves the main window's settings alone.
class EngineScope {
  public:
    EngineScope(Engine& engine, const engine::OptimizationSettings& settings)
        : m_engine(engine), m_interactive(engine.Interactive), m_settings(engine.settings) {
        engine.Interactive = false;
        engine.settings = settings;
    }
    ~EngineScope() {
        m_engine.settings = m_settings;
        m_engine.Interactive = m_interactive;
    }
    EngineScope(const EngineScope&) = delete;
    EngineScope& operator=(const EngineScope&) = delete;

  private:
    Engine& m_engine;
    bool m_interactive;
    engine::OptimizationSettings m_settings;
};

// An extension that the program cannot read; a path without one passes.
bool SkippedByExtension(const std::string& path, std::string_view readableExtensions) {
    return !engine::FileExtension(path).empty() &&
           !engine::HasReadableExtension(path, readableExtensions);
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(platform::PathFromUtf8(path), error);
}

// The written file must decode, without a message from the library, to an
// image of the size that was encoded. A JPEG is read through to its last
// coded bit without making pixels: that finds the same faults in a little
// over half the time of a full decode.
ContentCheck DecodesTo(int format, unsigned width, unsigned height) {
    return [=](const std::vector<std::uint8_t>& bytes) -> std::string {
        if (format == fi::kFormatJpeg) {
            const std::string problem = fi::CheckJpegStream(bytes, width, height);
            return problem.empty() ? problem : "The file written does not decode. " + problem;
        }
        std::string reported;
        fi::Bitmap decoded;
        {
            MessageHandlerScope quiet([&reported](int, const std::string& message) {
                if (reported.empty()) reported = message;
            });
            decoded.reset(fi::FreeImage_LoadFromBytes(format, bytes, 0));
        }
        if (!decoded) return "The file written does not decode.";
        if (!reported.empty()) return "The file written decodes with an error: " + reported;
        if (::FreeImage_GetWidth(decoded.get()) != width ||
            ::FreeImage_GetHeight(decoded.get()) != height) {
            return "The file written decodes to another size.";
        }
        return {};
    };
}

// The steps of one entry over the engine; `Failed` and `FailureDetail` of the
// result record what went wrong.
class EntryRun {
  public:
    EntryRun(Engine& engine, const BatchJob& job, const std::string& source,
             BatchRunFiles* runFiles, BatchEntryResult& result)
        : m_engine(engine),
          m_job(job),
          m_options(job.options),
          m_source(source),
          m_runFiles(runFiles),
          m_result(result) {}

    /// `libraryMessages` counts the library's messages as they arrive.
    void run(const std::size_t& libraryMessages);

  private:
    void fail(std::string detail) {
        m_result.Failed = true;
        if (!detail.empty()) m_result.FailureDetail = std::move(detail);
    }
    // Whether writing this entry replaces a file (the source, an older
    // output) or is followed by deleting the source.
    bool givesUpAFile() const {
        return m_inPlace || m_destinationExisted || m_options.DeleteOriginalFiles;
    }
    // A new file beside an untouched source is not worth waiting for the disk.
    Durability durability() const {
        return givesUpAFile() ? Durability::FlushedToDisk : Durability::Cached;
    }
    void skipFrames(int frames);
    void applyTasks();
    void resize();
    void compressToSize();
    void targetQuality();
    void scoreOutput(std::span<const std::uint8_t> bytes, int format);
    bool writeOutput();
    std::string placeFile(const std::string& target, std::span<const std::uint8_t> bytes,
                          const ContentCheck& check);
    std::string backUp(const std::string& target);
    void finishWrittenEntry();

    Engine& m_engine;
    const BatchJob& m_job;
    const BatchOptions& m_options;
    const std::string& m_source;
    BatchRunFiles* m_runFiles;
    BatchEntryResult& m_result;
    std::optional<platform::FileTimes> m_times;
    int m_frames = 1;
    bool m_sameFormat = false;
    bool m_transformed = false;
    bool m_inPlace = false;
    bool m_destinationExisted = false;
    // No setting met the quality target: nothing is written.
    bool m_qualityMissed = false;
    // The chosen setting's score from the quality search.
    std::optional<engine::QualityScore> m_chosenScore;
    // The quality search's own file, when it made one the encoder cannot.
    std::vector<std::uint8_t> m_chosenFile;
};

void EntryRun::run(const std::size_t& libraryMessages) {
    // Opening a pipe or a device could wait forever for data that never comes.
    if (!IsRegularFile(m_source)) return fail(kNotRegularFile);
    if (m_options.KeepOriginalDateTime) {
        m_times = platform::ReadFileTimes(m_source);
        m_result.TimesUnreadable = !m_times;
    }

    const std::size_t messagesBefore = libraryMessages;
    if (!m_engine.LoadImageFile(m_source)) return fail(kLoadingFailed);
    // A decoder that complained (a truncated JPEG decodes partly, with a
    // warning) gave an image that must not replace or outlive its source.
    if (libraryMessages != messagesBefore) return fail(kDamagedSource);

    // The engine keeps the first frame of an animation or the first page of
    // a document only: that is written only when asked for.
    m_frames = FrameCount(m_engine.SourceFormat, m_source);
    if (m_frames > 1 && !m_job.FirstFrameOnly) return skipFrames(m_frames);

    const int outputFormat = m_engine.settings.Format;
    m_sameFormat = m_engine.SourceFormat == outputFormat;
    m_result.Destination = DestinationFor(m_source, m_sameFormat, outputFormat, m_options);
    m_destinationExisted = FileExists(m_result.Destination);
    if (m_destinationExisted && !m_options.OverwriteExistingFiles) return fail(kFileExists);
    m_result.OriginalSize = util::GetFileSizeOrMinusOne(m_source);

    applyTasks();
    if (m_qualityMissed) return;

    m_inPlace = m_sameFormat && !m_transformed && SameFile(m_result.Destination, m_source);
    if (writeOutput()) finishWrittenEntry();
}

void EntryRun::skipFrames(int frames) {
    m_result.Skipped = true;
    m_result.Status = "skipped (" + std::to_string(frames) + " frames)";
    m_result.ErrorLog.push_back("Skipped " + m_source + ": it holds " + std::to_string(frames) +
                                " frames or pages, and only the first would be written.");
}

void EntryRun::applyTasks() {
    FIBITMAP* bitmap = m_engine.SourceBitmap.get();
    bool resizeFirst = false;
    if (m_options.TaskResize && bitmap) {
        const std::int64_t target = std::int64_t{m_options.ResizeWidth} * m_options.ResizeHeight;
        const std::int64_t current =
            m_options.ResizePercent
                ? 10000
                : std::int64_t{::FreeImage_GetWidth(bitmap)} * ::FreeImage_GetHeight(bitmap);
        // A growing image is resized before rotation and flipping, a shrinking one after them.
        resizeFirst = current < target;
    }
    if (m_options.TaskResize && resizeFirst) resize();
    if (m_options.TaskRotate) {
        m_transformed = true;
        // Positive angles turn counter-clockwise.
        const double angle =
            (m_options.RotateAngle * 90.0 + 90.0) * (m_options.RotateDirection == 1 ? -1.0 : 1.0);
        if (m_engine.SourceBitmap) {
            engine::ReplaceBitmap(m_engine.SourceBitmap,
                                  fi::FreeImage_Rotate(m_engine.SourceBitmap.get(), angle));
        }
    }
    if (m_options.TaskFlip) {
        m_transformed = true;
        engine::FlipBitmap(m_engine.SourceBitmap.get(), m_options.FlipType == 1
                                                            ? engine::FlipAxis::Horizontal
                                                            : engine::FlipAxis::Vertical);
    }
    if (m_options.TaskResize && !resizeFirst) resize();
    if (m_options.TaskCompressToSize) compressToSize();
    if (m_job.TargetDistance > 0) targetQuality();
}

void EntryRun::resize() {
    m_engine.ResampleImage(m_options.ResizeWidth, m_options.ResizeHeight, false,
                           m_options.ResizePercent, m_options.ResizeKeepAspect,
                           m_options.ResizeFilter);
}

void EntryRun::compressToSize() {
    m_transformed = true;
    if (!m_engine.SourceBitmap) return;
    const std::uint32_t uncompressed = ::FreeImage_GetDIBSize(m_engine.SourceBitmap.get());
    if (static_cast<std::int64_t>(uncompressed) < m_job.TargetBytes) {
        // Written all the same, with the current setting.
        return fail(engine::UncompressedSizeMessage(uncompressed));
    }
    // The setting of the format this entry is written in.
    const engine::SizeSetting setting = engine::SizeSettingFor(m_engine.settings.Format);
    int& field = engine::SettingField(m_engine.settings, setting);
    const int saved = field;
    const int best = engine::FindSizeSetting(m_engine, m_job.TargetBytes, setting);
    if (best < 1) {
        field = saved;
        return fail(kSizeNotReached);
    }
    field = best;
}

// Like compress to size, but the searched setting is the smallest whose
// result stays within the target distance. It does not count as a
// transformation: an output that comes out no smaller than its source is
// replaced by the source's own bytes, which are at distance 0.
void EntryRun::targetQuality() {
    if (!m_engine.SourceBitmap) return;
    const engine::SizeSetting setting = engine::SizeSettingFor(m_engine.settings.Format);
    if (!engine::CompressToSizeAvailable(m_engine)) {
        // No setting to move (true colour, or a fixed palette): the one
        // result meets the target or the entry fails.
        const imagelib::RgbPixels source =
            engine::ViewedPixels(m_engine.SourceBitmap.get(), m_engine.settings.BackgroundColor);
        m_engine.OptimizeImage("");
        m_chosenScore = engine::ScoreEngineResult(m_engine, source);
        m_qualityMissed = !m_chosenScore || m_chosenScore->maxDistance > m_job.TargetDistance;
    } else {
        int& field = engine::SettingField(m_engine.settings, setting);
        const int saved = field;
        const engine::QualitySearch search =
            engine::SearchQualitySetting(m_engine, m_job.TargetDistance, setting);
        m_qualityMissed = search.best < 1;
        field = m_qualityMissed ? saved : search.best;
        if (search.progressive) m_engine.settings.JPEGProgressive = *search.progressive;
        if (search.chromaSubsampling)
            m_engine.settings.JPEGChromaSubsampling = *search.chromaSubsampling;
        m_chosenScore = search.bestScore;
        m_chosenFile = search.encoded;
        m_result.ChosenSetting = search.best;
    }
    if (m_qualityMissed) fail(kQualityNotReached);
}

// Records the distance of the written bytes from the source, as a viewer
// sees both: the background is the settings' one for both.
void EntryRun::scoreOutput(std::span<const std::uint8_t> bytes, int format) {
    if (!m_job.ScoreResults || !m_engine.SourceBitmap) return;
    const engine::Rgb background = m_engine.settings.BackgroundColor;
    const imagelib::RgbPixels source =
        engine::ViewedPixels(m_engine.SourceBitmap.get(), background);
    m_result.Score = engine::ScoreEncoded(source, format, bytes, background).score;
}

// Encodes into memory and writes the output, or, when re-encoding did not
// make it smaller, the source's own bytes. False when nothing was written.
bool EntryRun::writeOutput() {
    // Taken first: an engine asked to release its source while encoding has
    // none afterwards.
    const unsigned width = ::FreeImage_GetWidth(m_engine.SourceBitmap.get());
    const unsigned height = ::FreeImage_GetHeight(m_engine.SourceBitmap.get());
    std::uint32_t size = m_engine.OptimizeImage("");
    if (size == 0 || !m_engine.ResultStream) {
        fail("");
        return false;
    }
    // The encoded bytes where the stream holds them: nothing writes to it
    // before this entry is done.
    std::span<const std::uint8_t> bytes = fi::StreamView(m_engine.ResultStream.get());
    if (bytes.size() < size) {
        fail("");
        return false;
    }
    bytes = bytes.first(size);
    if (!m_chosenFile.empty()) {
        bytes = m_chosenFile;
        size = static_cast<std::uint32_t>(bytes.size());
    }
    m_result.ResultSize = size;

    std::string failure;
    if (static_cast<std::int64_t>(size) >= m_result.OriginalSize && !m_transformed) {
        // Re-encoding (and resizing) never makes the output larger than its
        // source. The source's bytes keep the source's extension: a copy
        // under the output format's extension would lie about its content.
        if (!m_sameFormat) {
            m_result.Destination =
                DestinationFor(m_source, true, m_engine.settings.Format, m_options);
            // The source itself, when saving beside it, is not overwritten.
            m_destinationExisted =
                FileExists(m_result.Destination) && !SameFile(m_result.Destination, m_source);
        }
        if (!SameFile(m_result.Destination, m_source)) {
            const auto original = fi::ReadWholeFile(m_source);
            failure = original ? placeFile(m_result.Destination, *original, {})
                               : "Cannot read " + m_source;
        }
        if (failure.empty() && m_job.ScoreResults) {
            if (const auto original = fi::ReadWholeFile(m_source))
                scoreOutput(*original, m_engine.SourceFormat);
        }
        m_result.ResultSize = static_cast<std::uint32_t>(m_result.OriginalSize);
    } else if (m_frames > 1 && SameFile(m_result.Destination, m_source)) {
        // The first frame alone never takes the place of all of them.
        failure = "The output would replace a file of " + std::to_string(m_frames) +
                  " frames or pages with its first frame only.";
    } else {
        // Every output is read back and compared. It is decoded as well when
        // a file is given up for it, since nothing else would be left.
        failure = placeFile(
            m_result.Destination, bytes,
            givesUpAFile() ? DecodesTo(m_engine.settings.Format, width, height) : ContentCheck{});
        // Encoding repeats byte for byte, so the search's score is this output's.
        if (failure.empty() && m_job.ScoreResults) {
            if (m_chosenScore) {
                m_result.Score = m_chosenScore;
            } else {
                scoreOutput(bytes, m_engine.settings.Format);
            }
        }
    }
    if (!failure.empty()) {
        fail(failure);
        return false;
    }
    return true;
}

// Writes `bytes` at `target` when nothing of the user's is lost by it: an
// existing file only with overwrite permission and after its backup, never
// over another input of the run or a file an earlier entry wrote. Returns
// an empty text when written, else why not.
std::string EntryRun::placeFile(const std::string& target, std::span<const std::uint8_t> bytes,
                                const ContentCheck& check) {
    m_destinationExisted = FileExists(target);
    if (m_destinationExisted && !m_options.OverwriteExistingFiles) return kFileExists;
    if (m_runFiles && m_runFiles->IsOtherInput(target, m_source))
        return "The output would replace " + target + ", another file of this run.";
    if (m_runFiles && !m_runFiles->Claim(target, m_source))
        return "Another file of this run has the same output: " + target + ".";
    if (m_destinationExisted && m_options.BackupOnOverwrite) {
        // Without the backup the user asked for, the file is not risked.
        if (std::string failure = backUp(target); !failure.empty()) return failure;
    }
    // A name that was free is taken only while it still is, so that two
    // entries racing for it cannot both write it.
    std::string failure = ReplaceFileVerified(
        target, bytes, check, durability(),
        m_destinationExisted ? Placement::ReplaceExisting : Placement::NewFileOnly);
    if (failure.empty() && m_runFiles) m_runFiles->Written(target);
    return failure;
}

// Copies the file about to be replaced to its name + ".original". An
// existing backup may be the only true original left (an earlier run made
// it) or a file of the user's: it is never replaced, and the entry fails.
std::string EntryRun::backUp(const std::string& target) {
    const std::string backup = target + ".original";
    std::error_code error;
    if (std::filesystem::exists(
            std::filesystem::symlink_status(platform::PathFromUtf8(backup), error))) {
        return "The backup " + backup + " exists already and is never replaced.";
    }
    const auto original = fi::ReadWholeFile(target);
    const std::string failure =
        original ? ReplaceFileVerified(backup, *original, {}, Durability::FlushedToDisk,
                                       Placement::NewFileOnly)
                 : "Cannot read " + target;
    return failure.empty() ? failure : "Could not back up the original file: " + failure;
}

void EntryRun::finishWrittenEntry() {
    std::string status = SizeChangeStatus(m_result.ResultSize, m_result.OriginalSize);
    if (m_destinationExisted) status += ",overwritten";
    if (m_times) platform::WriteFileTimes(m_result.Destination, *m_times);
    if (m_options.DeleteOriginalFiles) {
        if (SameFile(m_source, m_result.Destination)) {
            status += ",original file NOT deleted (same as destination)";
        } else if (m_frames > 1) {
            // Its output holds one frame of many: the source is all there is of the rest.
            status += ",original file NOT deleted (" + std::to_string(m_frames) + " frames)";
        } else {
            std::error_code error;
            const bool deleted =
                std::filesystem::remove(platform::PathFromUtf8(m_source), error) && !error;
            status += deleted ? ",original file deleted" : ",original file NOT deleted";
        }
    }
    m_result.Status = std::move(status);
}

}  // namespace

BatchEntryResult ProcessBatchEntry(Engine& engine, const BatchJob& job,
                                   const std::string& sourcePath, BatchRunFiles* runFiles) {
    BatchEntryResult result;
    if (SkippedByExtension(sourcePath, job.readableExtensions)) {
        result.Skipped = true;
        result.Status = "skipped";
        return result;
    }
    std::size_t messageCount = 0;
    {
        MessageHandlerScope messages([&](int format, const std::string& message) {
            ++messageCount;
            result.ErrorLog.push_back(LibraryMessageLine(format, message));
        });
        EngineScope scope(engine, job.settings);
        try {
            EntryRun(engine, job, sourcePath, runFiles, result).run(messageCount);
        } catch (const std::exception& error) {
            result.Failed = true;
            result.FailureDetail = error.what();
        }
    }
    if (result.Failed) {
        result.Skipped = false;
        result.Status = "error";
        // An entry that failed before its output was decided has nothing it
        // could have saved: the log says what did fail.
        result.ErrorLog.push_back(result.Destination.empty()
                                      ? std::string("Failed to load the source image")
                                      : "Failed to save " + result.Destination);
        result.ErrorLog.push_back("Source image: " + sourcePath);
        if (!result.FailureDetail.empty())
            result.ErrorLog.push_back("Error: " + result.FailureDetail);
        result.ErrorLog.emplace_back();
    }
    return result;
}

BatchRunSummary RunBatch(Engine& engine, BatchItems& items, const BatchJob& job,
                         const BatchCallbacks& callbacks) {
    BatchRunSummary summary;
    SortAndRemoveDuplicates(items);
    // One file named twice would otherwise race with itself for its output.
    RemoveSameFiles(items);
    for (TBatchItem& item : items) item.Status.clear();
    if (callbacks.listReordered) callbacks.listReordered();

    const bool interactive = engine.Interactive;
    struct RestoreInteractive {
        Engine& engine;
        bool value;
        ~RestoreInteractive() { engine.Interactive = value; }
    } restore{engine, interactive};
    engine.Interactive = false;
    // Messages outside the entries (each entry collects its own) go to the log too.
    MessageHandlerScope messages([&summary](int format, const std::string& message) {
        summary.ErrorLog.push_back(LibraryMessageLine(format, message));
    });

    BatchRunFiles runFiles(items);
    BatchJob current = job;
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (callbacks.entryStarting) callbacks.entryStarting(index);
        if (callbacks.stopRequested && callbacks.stopRequested()) {
            summary.stopped = true;
            break;
        }
        items[index].Status = "working";
        if (callbacks.statusChanged) callbacks.statusChanged(index, items[index]);

        BatchEntryResult result =
            ProcessBatchEntry(engine, current, items[index].FilePath, &runFiles);
        if (result.TimesUnreadable) current.options.KeepOriginalDateTime = false;
        summary.ErrorLog.insert(summary.ErrorLog.end(), result.ErrorLog.begin(),
                                result.ErrorLog.end());
        items[index].Status = result.Status;
        if (callbacks.statusChanged) callbacks.statusChanged(index, items[index]);
        summary.totals.Add(result);
        if (result.Skipped) continue;
        ++summary.processed;
        if (result.Failed) ++summary.failed;
        if (callbacks.progressed) callbacks.progressed(summary.processed);
    }
    engine.UnloadImage();
    return summary;
}

}  // namespace pimo::batch
