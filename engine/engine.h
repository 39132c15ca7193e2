#pragma once
// The image engine: the state that lives longer than one command (source,
// working bitmap, result stream, flags) and the operations over it. It talks
// to the user only through its Host, and only while `Interactive` is on.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "engine/geometry.h"
#include "engine/host.h"
#include "engine/image_info.h"
#include "engine/imagelib/handles.h"
#include "engine/metadata_kinds.h"
#include "engine/optimization_settings.h"
#include "engine/program_options.h"

namespace pimo::engine {

using imagelib::Bitmap;
using imagelib::MemoryStream;

/// Stores `replacement` in `slot`, releasing what the slot held. A failed
/// producing call (nullptr) leaves the slot empty rather than stale.
inline void ReplaceBitmap(Bitmap& slot, FIBITMAP* replacement) {
    slot.reset(replacement);
}

/// The text of the output-message box: the format's name, " Error\n\n", the message.
std::string OutputMessageText(int format, const std::string& message);

/// The image library's version text.
std::string LibraryVersionText();

/// The window caption for a loaded file, e.g. "photo.jpg - 800x600 px @ 24bit JPEG".
std::string FileCaption(const std::string& path, unsigned width, unsigned height,
                        unsigned originalBpp, int sourceFormat);

/// Description of the balloon for a result larger than its source: empty
/// when the formats are equal, else the advice to keep the source's format.
std::string LargerResultDescription(int outputFormat, int sourceFormat);

class Engine {
  public:
    explicit Engine(Host& host);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // ---- settings (the only copy; the window binds its controls to them) ----
    OptimizationSettings settings;
    ProgramOptions options;

    // ---- state ----
    bool Interactive = true;
    Bitmap SourceBitmap;
    int SourceFormat = imagelib::kFormatUnknown;
    std::uint32_t SourceFileSize = 0;
    ImageInfo imageInfo{};
    // The bitmap the last pipeline run encoded (interactive: its decoded
    // result); none when that was the source's own pixels, unchanged.
    Bitmap WorkingBitmap;
    /// How many times smaller than the result WorkingBitmap holds it after an
    /// interactive JPEG run (1, 2, 4 or 8): only as large as the view shows
    /// it. ResultStream always has every pixel.
    unsigned ResultReduction = 1;
    MemoryStream ResultStream;
    bool PipelineBusy = false;
    /// Set by a caller that reads nothing of the source's analysis but what
    /// the JPEG stage needs. Loading for a manual-mode JPEG output without a
    /// window then leaves `imageInfo` empty, and the JPEG stage looks for
    /// greys in the source itself, which stops at the first coloured pixel:
    /// scanning every pixel of a photograph costs a large part of such a run.
    bool SkipSourceAnalysis = false;
    /// Set by a caller that reads nothing of the source's pixels after a
    /// pipeline run (a one-pass re-encode without a window, score or search).
    /// A JPEG run that encodes the source's own pixels, unadjusted, into
    /// ResultStream then gives their memory back to the system as the encoder
    /// takes the rows, and releases SourceBitmap when it is done: the source
    /// and the encoder's whole-image buffers are never both held in full.
    /// Any other run leaves the source as it was.
    bool ReleaseSourceWhileEncoding = false;
    /// Whether loading left the source unanalysed (`imageInfo` is then empty).
    bool SourceAnalysisSkipped() const { return m_analysisSkipped; }
    bool ResultStale = false;
    bool ResultUnsaved = false;
    /// Full path of the loaded file, "Untitled" for an image without a file.
    std::string SourcePath;
    /// Name of PNG preset entry 0, renamed on every load.
    std::string PngTrueColorName{kTrueColorName};

    Host& host() { return m_host; }

    /// A setting changed: the result no longer matches the settings.
    void MarkResultStale();
    /// The result was written where the source lives (Save).
    void MarkResultSaved();
    /// Whether a long call (loading, the pipeline, a geometry step) is running.
    bool Busy() const { return PipelineBusy || m_busyDepth > 0; }
    /// Tells the host that the state changed (interactive only).
    void NotifyStateChanged();

    // ---- loading ----

    /// Loads a file into SourceBitmap and runs OpenLoadedImage. Returns whether
    /// a source bitmap exists afterwards.
    bool LoadImageFile(const std::string& path);
    /// Brings SourceBitmap to 24 bits, or 32 when transparent. Returns 6 when
    /// the user resized the image through the large-image prompt, else 0.
    int NormaliseImage(bool skipResizePrompt);
    /// The sequence after every new source bitmap: checks, file information,
    /// normalisation, analysis, and (interactive) display and first preview.
    void OpenLoadedImage(const std::string& path, bool actualSize, bool skipResizePrompt);
    /// Releases every image and shows the no-image state.
    void UnloadImage();

    // ---- geometry ----

    /// Turns the source 90 degrees and reopens it (no large-image question).
    void Rotate(Rotation rotation);
    /// Mirrors the source and reopens it.
    void Flip(FlipAxis axis);
    /// Rescales the source to the requested size (pixels or percent, kept
    /// aspect, one side only) with a filter index 0..5. Interactive: shows
    /// progress and reopens the image at actual size; otherwise analyses it
    /// and, in modes 0 and 1, proposes the settings again. Returns whether a
    /// source bitmap exists afterwards.
    bool ResampleImage(int width, int height, bool interactive, bool percent, bool keepAspect,
                       int filterIndex);

    // ---- pipeline ----

    /// Builds the working copy, applies the adjustments and encodes. Empty
    /// `targetPath`: into ResultStream; otherwise into that file. Returns the
    /// encoded size, 0 for no source or a failed file write.
    std::uint32_t OptimizeImage(const std::string& targetPath);
    /// Runs OptimizeImage into memory and presents the result (interactive only).
    void PreviewImage();
    /// The JPEG in ResultStream decoded for display, made from `encoded`, at
    /// the reduction the host asks for its size; sets ResultReduction.
    FIBITMAP* DecodeJpegResultForDisplay(FIBITMAP* encoded);
    /// Writes the size texts and the status text of a result.
    void ShowResultSize(std::uint32_t size, unsigned bitDepth);

    // ---- outputs ----

    std::uint32_t EncodeJPEG(const std::string& targetPath);
    std::uint32_t EncodePNG(const std::string& targetPath);
    std::uint32_t EncodeGIF(const std::string& targetPath);
    /// Encodes `bitmap` into the file; returns the written file's size, 0 on failure.
    std::uint32_t SaveBitmapToFile(int format, FIBITMAP* bitmap, const std::string& path,
                                   int flags);
    /// JPEG encoder flags for the current settings.
    int JpegSaveFlags() const;
    /// Writes the result stream's bytes unchanged to `path` (beside it, then
    /// renamed over it), re-running the pipeline first when the result is
    /// stale. Errors are shown when `showErrors` (and Interactive).
    bool WriteResultToFile(const std::string& path, bool showErrors);
    /// Writes the result stream as it stands, for a step of the running
    /// pipeline (the external optimizer); WriteResultToFile refuses while busy.
    bool WriteResultStream(const std::string& path, bool showErrors);

    /// The external PNG optimizer, handed the PNG in ResultStream. Returns the
    /// size of the smaller file it put into ResultStream, or 0 when it did not
    /// run, failed or produced nothing smaller. Unset: never runs.
    std::function<std::uint32_t(Engine&)> externalOptimizer;

    // ---- messages ----

    /// Routes the library's messages on this thread to the engine's handler,
    /// which shows them in an error box while Interactive.
    void RegisterOutputMessageHandler();
    /// The window's hooks into the library: its messages to this engine, its
    /// progress (0..10000 per long call) to `progress`.
    void AttachLibraryCallbacks(std::function<void(int)> progress);
    /// Undoes AttachLibraryCallbacks; call before the window goes.
    void DetachLibraryCallbacks();
    void HandleOutputMessage(int format, const std::string& message);

  private:
    // Host calls that only happen while Interactive.
    void status(const std::string& text, int panel = 0);
    void busy(bool on);
    MessageAnswer ask(MessageKind kind, const std::string& text, MessageButtons buttons);

    /// Deletes from WorkingBitmap each metadata kind whose removal flag is on
    /// and which the source carries, among the kinds the output `honoured`.
    void RemoveMetadata(const MetadataKinds& honoured);
    void ShowFileInformation(const std::string& path);
    /// Analyses the source and sets both colour-count maxima from it.
    void AnalyseSource();
    void ChooseSettingsForMode();
    /// The path of the loaded file, empty for an image without one.
    std::string LoadedFilePath() const;
    void BuildWorkingCopy();

    Host& m_host;
    int m_busyDepth = 0;
    bool m_analysisSkipped = false;
    friend class BusyScope;
};

/// An encoded JPEG result decoded to be looked at: at 1/`reduction` of its
/// size (2, 4 or 8) when the reduced decode takes it, else at full size with
/// the settings of the result's usual decode, and `reduction` set to 1. Safe
/// on any thread; nullptr when the bytes do not decode.
FIBITMAP* DecodeJpegForDisplay(std::span<const std::uint8_t> encoded, unsigned& reduction);

/// Restores the window and cursor when a long engine call ends, however it ends.
class BusyScope {
  public:
    BusyScope(Engine& engine, const std::string& statusText);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    Engine& m_engine;
};

}  // namespace pimo::engine
