#pragma once
// Our layer over the image library. Everything the engine needs beyond the
// library's public release lives here, under the library's own names but in
// our namespace, so nothing collides with the library's symbols:
//  - the system's format identifiers (JPEG 0, PNG 1, GIF 2, pasted bitmap 3,
//    icon 6), mapped both ways to the library's;
//  - data each bitmap carries from its file (original depth, real alpha, JPEG
//    quality, ICC profile) that must survive clones and conversions;
//  - loading with UTF-8 paths, from memory and from a buffer without length;
//  - the progress callback, greyscale in place, the two-mode transparency test;
//  - per-thread routing of the library's output messages.
// Inside namespace pimo::imagelib the library's own functions are reached with
// a leading "::".

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/imagelib/handles.h"

namespace pimo::imagelib {

// Load and save flags that only our layer understands.
inline constexpr int kJpegLoadDetectQuality = 0x0040;
inline constexpr int kPngSaveExtendedEffort = 0x0400;

/// Library identifier (FREE_IMAGE_FORMAT) for a system identifier; -1 stays -1.
int ToLibraryFormat(int systemFormat);
/// System identifier for a library identifier; -1 stays -1.
int FromLibraryFormat(int libraryFormat);

/// A new, empty, growable memory stream.
MemoryStream OpenMemoryStream();
/// A copy of the bytes a memory stream holds (its whole size, not its position).
std::vector<std::uint8_t> StreamBytes(FIMEMORY* stream);
/// The bytes of a memory stream where they lie: valid until the stream is
/// written to or closed.
std::span<const std::uint8_t> StreamView(FIMEMORY* stream);

// ---- Formats ---------------------------------------------------------------

/// Format found by the file's signature (system identifier), -1 when unknown
/// or unreadable. `path` is UTF-8.
int FreeImage_GetFileType(const std::string& path);
/// Format found by the path's extension (system identifier), -1 when unknown.
int FreeImage_GetFIFFromFilename(const std::string& path);
/// Format found by the signature of bytes in memory.
int FreeImage_GetFileTypeFromMemory(std::span<const std::uint8_t> bytes);
bool FreeImage_FIFSupportsReading(int format);
/// The library's short name of a format ("JPEG", "PNG", ...); "Unknown Format" for -1.
std::string FreeImage_GetFormatFromFIF(int format);
/// The tag the version text carries: this layer provides every extension
/// the program relies on.
inline constexpr std::string_view kLibraryVersionTag = "PIMO-0.5.0-FI-3.15.3";
/// Library version text, with `kLibraryVersionTag` in brackets.
std::string FreeImage_GetVersion();

// ---- Loading and saving ----------------------------------------------------

/// Decodes a file (UTF-8 path), isolated as FreeImage_LoadIsolated. Returns
/// nullptr on failure; the library's message, if any, goes to the
/// output-message handler.
FIBITMAP* FreeImage_Load(int format, const std::string& path, int flags);
/// Decodes outside data (a user's file, pasted bytes) as FreeImage_LoadFromBytes
/// does, but in a child process under the current decode budget: a crash, a
/// hang or a bomb in the library fails this decode with a clear message and
/// nothing else.
FIBITMAP* FreeImage_LoadIsolated(int format, std::span<const std::uint8_t> bytes, int flags);
/// Decodes bytes in memory with the same repairs as FreeImage_Load.
FIBITMAP* FreeImage_LoadFromBytes(int format, std::span<const std::uint8_t> bytes, int flags);
/// Decodes a memory stream from its start (the stream is rewound first).
FIBITMAP* FreeImage_LoadFromMemory(int format, FIMEMORY* stream, int flags);
/// Decodes a PNG whose length is not known (pasted data, isolated as
/// FreeImage_LoadIsolated): the chunk structure is walked to IEND, never beyond
/// `limit` bytes. nullptr when no complete PNG is found.
FIBITMAP* FreeImage_LoadFromBuffer(int format, const std::uint8_t* data, int flags,
                                   std::size_t limit = SIZE_MAX);

/// Encodes into the stream at its current position. PNG honours the
/// extended-effort flag 0x0400; JPEG the row release of jpeg_encode.h.
bool FreeImage_SaveToMemory(int format, FIBITMAP* bitmap, FIMEMORY* stream, int flags);
/// Encodes into a file (UTF-8 path), written beside the target and renamed
/// over it so that a failure never leaves a truncated file.
bool FreeImage_Save(int format, FIBITMAP* bitmap, const std::string& path, int flags);

// ---- Data carried from the file --------------------------------------------

/// Quality 1..100 of the JPEG file the bitmap was decoded from (when loaded
/// with flag 0x0040), 0 when unknown.
int FreeImage_GetJPEGQuality(FIBITMAP* bitmap);
/// Bits per pixel of the encoded image the bitmap came from, 0 when unknown.
unsigned FreeImage_GetOriginalBPP(FIBITMAP* bitmap);
/// True when the decoded file carried a real alpha channel (not one
/// transparent palette colour).
bool FreeImage_OriginalHasAlpha(FIBITMAP* bitmap);
/// Copies the carried data, the metadata and the ICC profile from one bitmap
/// to another made from it. Every conversion of this layer does it.
void CarryBitmapData(FIBITMAP* from, FIBITMAP* to);
/// Makes `owner` (what keeps the memory of the pixels of `bitmap`, a bitmap
/// made over outside pixels, alive) live until the bitmap is deleted through
/// its Bitmap handle.
void AttachPixelOwner(FIBITMAP* bitmap, std::shared_ptr<void> owner);
/// Attaches a tag of `type` holding `count` values (`length` bytes in all)
/// under `key` in metadata `model`. Returns whether the library took it.
bool SetMetadataTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key,
                    FREE_IMAGE_MDTYPE type, DWORD count, DWORD length, const void* value);

/// Records the file facts on a freshly decoded bitmap.
void RecordOriginalFacts(FIBITMAP* bitmap, int jpegQuality);
/// Records whether the file carried a real alpha channel, for a bitmap whose
/// pixels were decoded after its facts were recorded (loaded header only).
void RecordOriginalAlpha(FIBITMAP* bitmap, bool hasAlpha);

// ---- Conversions that keep the carried data --------------------------------

FIBITMAP* FreeImage_Clone(FIBITMAP* bitmap);
FIBITMAP* FreeImage_ConvertTo24Bits(FIBITMAP* bitmap);
FIBITMAP* FreeImage_ConvertTo32Bits(FIBITMAP* bitmap);
FIBITMAP* FreeImage_ConvertToGreyscale(FIBITMAP* bitmap);
FIBITMAP* FreeImage_ConvertToStandardType(FIBITMAP* bitmap, bool scaleLinear);
FIBITMAP* FreeImage_GetComplexChannel(FIBITMAP* bitmap, FREE_IMAGE_COLOR_CHANNEL channel);
FIBITMAP* FreeImage_ToneMapping(FIBITMAP* bitmap, FREE_IMAGE_TMO tmo, double first, double second);
FIBITMAP* FreeImage_ColorQuantizeEx(FIBITMAP* bitmap, FREE_IMAGE_QUANTIZE method, int colors);
FIBITMAP* FreeImage_Dither(FIBITMAP* bitmap, FREE_IMAGE_DITHER algorithm);
FIBITMAP* FreeImage_Composite(FIBITMAP* bitmap, RGBQUAD background);
FIBITMAP* FreeImage_Rescale(FIBITMAP* bitmap, int width, int height, FREE_IMAGE_FILTER filter);
FIBITMAP* FreeImage_Rotate(FIBITMAP* bitmap, double angle);

/// A bitmap that uses the pixels of `bitmap` (a 24- or 32-bit FIT_BITMAP)
/// without copying them, with its own copy of everything else a clone has:
/// resolution, transparency flag, background colour, ICC profile, metadata
/// (the carried data too) and thumbnail. Its header and data may be changed
/// freely; its pixels are `bitmap`'s, so it must never be written through and
/// must be released before `bitmap` is. Null for other kinds of bitmap.
FIBITMAP* FreeImage_SharedPixelsView(FIBITMAP* bitmap);

/// Every pixel of a 24- or 32-bit bitmap becomes its grey value; the bitmap
/// keeps its depth. False (and unchanged) for other depths.
bool FreeImage_ConvertToGreyscaleInPlace(FIBITMAP* bitmap);

/// Mode 0: the library's test, true for a bitmap marked transparent.
/// Mode 1: whether normalisation should keep an alpha channel: marked
/// transparent and at least one pixel not fully opaque; a 32-bit alpha channel
/// that is zero everywhere counts as unused.
bool FreeImage_IsTransparent(FIBITMAP* bitmap, int mode);

// ---- Callbacks -------------------------------------------------------------

/// Installs this layer's handlers in the library, once. Every entry of the
/// layer does it; a caller about to fork does it first.
void InstallLibraryCallbacks();

/// Progress: 0 at the start of a long operation, rising values, 10000 at the end,
/// called on the thread doing the work.
using ProgressCallback = std::function<void(int)>;
void FreeImage_SetProgress(ProgressCallback callback);
/// Reports a progress value to the registered callback (used by this layer and
/// by the engine's long loops).
void ReportProgress(int value);

/// Output messages: (system format, message). Handlers are per thread, so
/// parallel workers each receive only the messages their own calls caused.
using OutputMessageHandler = std::function<void(int format, const std::string& message)>;
/// Installs the handler for the calling thread and returns the previous one.
OutputMessageHandler FreeImage_SetOutputMessage(OutputMessageHandler handler);

}  // namespace pimo::imagelib
