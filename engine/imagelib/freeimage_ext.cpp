#include "engine/imagelib/freeimage_ext.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "engine/imagelib/declared_size.h"
#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/gif_still.h"
#include "engine/imagelib/isolated_decoder.h"
#include "engine/imagelib/jpeg_encode.h"
#include "engine/imagelib/load_repairs.h"
#include "engine/imagelib/png_effort.h"

namespace pimo::imagelib {

namespace {
// The owners of the memory that bitmaps made over outside pixels use. The
// library frees a bitmap's header but never pixels it did not allocate: the
// owner goes when the bitmap is deleted.
std::mutex gPixelOwnersLock;
std::unordered_map<FIBITMAP*, std::shared_ptr<void>>& PixelOwners() {
    static auto* owners = new std::unordered_map<FIBITMAP*, std::shared_ptr<void>>;
    return *owners;
}
}  // namespace

void AttachPixelOwner(FIBITMAP* bitmap, std::shared_ptr<void> owner) {
    if (!bitmap || !owner) return;
    const std::lock_guard<std::mutex> lock(gPixelOwnersLock);
    PixelOwners()[bitmap] = std::move(owner);
}

void BitmapDeleter::operator()(FIBITMAP* bitmap) const {
    ::FreeImage_Unload(bitmap);
    std::shared_ptr<void> owner;  // released outside the lock
    const std::lock_guard<std::mutex> lock(gPixelOwnersLock);
    const auto found = PixelOwners().find(bitmap);
    if (found == PixelOwners().end()) return;
    owner = std::move(found->second);
    PixelOwners().erase(found);
}

void MemoryDeleter::operator()(FIMEMORY* stream) const {
    ::FreeImage_CloseMemory(stream);
}

namespace {

// Keys of the facts a bitmap carries from its file, in the custom model so
// that the library's writers never store them.
constexpr const char* kKeyOriginalBpp = "PimoOriginalBPP";
constexpr const char* kKeyOriginalHasAlpha = "PimoOriginalHasAlpha";
constexpr const char* kKeyJpegQuality = "PimoJPEGQuality";

void SetCustomLong(FIBITMAP* bitmap, const char* key, std::uint32_t value) {
    SetMetadataTag(bitmap, FIMD_CUSTOM, key, FIDT_LONG, 1, sizeof value, &value);
}

std::uint32_t GetCustomLong(FIBITMAP* bitmap, const char* key) {
    FITAG* tag = nullptr;
    if (!bitmap || !::FreeImage_GetMetadata(FIMD_CUSTOM, bitmap, key, &tag) || !tag) return 0;
    if (::FreeImage_GetTagType(tag) != FIDT_LONG || ::FreeImage_GetTagLength(tag) != 4) return 0;
    std::uint32_t value = 0;
    std::memcpy(&value, ::FreeImage_GetTagValue(tag), sizeof value);
    return value;
}

// ---- progress and output messages, per thread ----

thread_local ProgressCallback tProgress;
thread_local OutputMessageHandler tOutputHandler;

void DispatchOutputMessage(FREE_IMAGE_FORMAT format, const char* message) {
    if (tOutputHandler) tOutputHandler(FromLibraryFormat(format), message ? message : "");
}

// Loads with the library's own decoder through our IO, reporting progress as
// the decoder reads the bytes.
FIBITMAP* LoadWithLibrary(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> bytes,
                          int flags) {
    ByteReader reader(bytes, [](int value) { ReportProgress(value); });
    FreeImageIO io = ByteReader::Io();
    // A decoder that does not catch what the reader throws at the end of the
    // data, or the library's own allocation failure, fails this load only.
    try {
        return ::FreeImage_LoadFromHandle(format, &io, static_cast<fi_handle>(&reader), flags);
    } catch (const char* text) {
        ::FreeImage_OutputMessageProc(format, "%s", text);
    } catch (const std::bad_alloc&) {
        ::FreeImage_OutputMessageProc(format, "%s", "not enough memory to decode this file");
    }
    return nullptr;
}

// Refuses, before anything is allocated, a file whose header declares a size
// that does not fit the decode budget or that its bytes could not hold. The
// header is read by us: the library's header-only load still allocates the
// whole image for some formats (progressive JPEG).
bool RefusedByDeclaredSize(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> bytes) {
    const std::optional<DeclaredSize> size = ReadDeclaredSize(format, bytes);
    if (!size) return false;
    std::optional<std::string> refusal = RefusalForDeclaredSize(*size, CurrentDecodeBudget());
    if (!refusal) refusal = RefusalForImplausibleSize(*size, bytes.size());
    if (!refusal) return false;
    ::FreeImage_OutputMessageProc(format, "%s", refusal->c_str());
    return true;
}

// Bits per pixel that the file itself stores, where the library's decoder
// widens it (a 4-bit PNG with transparency decodes to 8 bits).
unsigned StoredBitsPerPixel(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> bytes,
                            FIBITMAP* bitmap) {
    if (format == FIF_PNG && bytes.size() >= 26 && std::memcmp(bytes.data() + 12, "IHDR", 4) == 0) {
        const unsigned depth = bytes[24];
        const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
        const unsigned colorType = bytes[25];
        if (colorType < 7 && channels[colorType] != 0) return depth * channels[colorType];
    }
    return ::FreeImage_GetBPP(bitmap);
}

bool HasUsedTransparentIndex(FIBITMAP* bitmap) {
    const unsigned count = ::FreeImage_GetTransparencyCount(bitmap);
    const BYTE* table = ::FreeImage_GetTransparencyTable(bitmap);
    if (!table || count == 0) return false;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            BYTE index = 0;
            ::FreeImage_GetPixelIndex(bitmap, x, y, &index);
            if (index < count && table[index] < 255) return true;
        }
    }
    return false;
}

// An alpha channel is in real use when some pixel is not fully opaque and not
// every pixel is zero (an all-zero channel is an unused fourth byte).
template <typename Pixel, typename Alpha>
bool AlphaInUse(FIBITMAP* bitmap, Alpha opaque, Alpha Pixel::*alpha) {
    bool anyTranslucent = false, anyNonZero = false;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const Pixel*>(::FreeImage_GetScanLine(bitmap, y));
        for (unsigned x = 0; x < width; ++x) {
            const Alpha a = row[x].*alpha;
            anyTranslucent |= a != opaque;
            anyNonZero |= a != 0;
            if (anyTranslucent && anyNonZero) return true;
        }
    }
    return false;
}

bool Alpha32InUse(FIBITMAP* bitmap) {
    return AlphaInUse<RGBQUAD, BYTE>(bitmap, 255, &RGBQUAD::rgbReserved);
}

}  // namespace

void InstallLibraryCallbacks() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::FreeImage_SetOutputMessage(DispatchOutputMessage);
        RouteCodecWarnings();
    });
}

// ---- format identifiers ----

int ToLibraryFormat(int systemFormat) {
    switch (systemFormat) {
        case kFormatJpeg:
            return FIF_JPEG;
        case kFormatPng:
            return FIF_PNG;
        case kFormatGif:
            return FIF_GIF;
        case kFormatPastedBitmap:
            return FIF_BMP;
        case kFormatIcon:
            return FIF_ICO;
        // The two library formats whose numbers the system's identifiers took
        // move to the numbers the moved formats left free.
        case FIF_PNG:
            return FIF_JNG;
        case FIF_GIF:
            return FIF_MNG;
        default:
            return systemFormat;
    }
}

int FromLibraryFormat(int libraryFormat) {
    switch (libraryFormat) {
        case FIF_JPEG:
            return kFormatJpeg;
        case FIF_PNG:
            return kFormatPng;
        case FIF_GIF:
            return kFormatGif;
        case FIF_BMP:
            return kFormatPastedBitmap;
        case FIF_ICO:
            return kFormatIcon;
        case FIF_JNG:
            return FIF_PNG;
        case FIF_MNG:
            return FIF_GIF;
        default:
            return libraryFormat;
    }
}

MemoryStream OpenMemoryStream() {
    return MemoryStream(::FreeImage_OpenMemory(nullptr, 0));
}

std::span<const std::uint8_t> StreamView(FIMEMORY* stream) {
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!stream || !::FreeImage_AcquireMemory(stream, &data, &size) || !data) return {};
    return {data, size};
}

std::vector<std::uint8_t> StreamBytes(FIMEMORY* stream) {
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!stream || !::FreeImage_AcquireMemory(stream, &data, &size) || !data) return {};
    return {data, data + size};
}

// ---- formats ----

int FreeImage_GetFileType(const std::string& path) {
    InstallLibraryCallbacks();
    FileReader reader(path);
    if (!reader.isOpen()) return kFormatUnknown;
    FreeImageIO io = FileReader::Io();
    return FromLibraryFormat(
        ::FreeImage_GetFileTypeFromHandle(&io, static_cast<fi_handle>(&reader), 0));
}

int FreeImage_GetFIFFromFilename(const std::string& path) {
    return FromLibraryFormat(::FreeImage_GetFIFFromFilename(path.c_str()));
}

int FreeImage_GetFileTypeFromMemory(std::span<const std::uint8_t> bytes) {
    InstallLibraryCallbacks();
    ByteReader reader(bytes, nullptr);
    FreeImageIO io = ByteReader::Io();
    return FromLibraryFormat(
        ::FreeImage_GetFileTypeFromHandle(&io, static_cast<fi_handle>(&reader), 0));
}

bool FreeImage_FIFSupportsReading(int format) {
    const int library = ToLibraryFormat(format);
    return library >= 0 && ::FreeImage_FIFSupportsReading(static_cast<FREE_IMAGE_FORMAT>(library));
}

std::string FreeImage_GetFormatFromFIF(int format) {
    const char* name =
        ::FreeImage_GetFormatFromFIF(static_cast<FREE_IMAGE_FORMAT>(ToLibraryFormat(format)));
    return name ? name : "Unknown Format";
}

std::string FreeImage_GetVersion() {
    return std::string(::FreeImage_GetVersion()) + " (" + std::string(kLibraryVersionTag) + ")";
}

// ---- loading ----

FIBITMAP* FreeImage_LoadFromBytes(int format, std::span<const std::uint8_t> bytes, int flags) {
    InstallLibraryCallbacks();
    const int libraryFormat = ToLibraryFormat(format);
    if (libraryFormat < 0 || bytes.empty()) return nullptr;
    const auto fif = static_cast<FREE_IMAGE_FORMAT>(libraryFormat);
    const bool detectQuality = fif == FIF_JPEG && (flags & kJpegLoadDetectQuality);
    const int libraryFlags = fif == FIF_JPEG ? flags & ~kJpegLoadDetectQuality : flags;

    ReportProgress(0);
    if (RefusedByDeclaredSize(fif, bytes)) {
        ReportProgress(10000);
        return nullptr;
    }
    FIBITMAP* bitmap = DecodeWhereLibraryFails(fif, bytes, libraryFlags);
    if (!bitmap) {
        bitmap = LoadWithLibrary(fif, bytes, libraryFlags);
        if (bitmap) RepairDecodedBitmap(fif, bytes, libraryFlags, bitmap);
    }
    if (bitmap) {
        RecordOriginalFacts(bitmap, detectQuality ? EstimateJpegQuality(bytes) : 0);
        SetCustomLong(bitmap, kKeyOriginalBpp, StoredBitsPerPixel(fif, bytes, bitmap));
    }
    ReportProgress(10000);
    return bitmap;
}

FIBITMAP* FreeImage_Load(int format, const std::string& path, int flags) {
    if (ToLibraryFormat(format) < 0) return nullptr;
#ifndef _WIN32
    // Decoded in a process of its own, the file goes there without a copy
    // in this process's memory.
    if (const DecodeBudget budget = CurrentDecodeBudget(); budget.isolated) {
        // Not waiting for a pipe's writer: only a regular file is read this way.
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file < 0) return nullptr;
        const std::optional<FIBITMAP*> decoded = DecodeFileIsolated(format, file, flags, budget);
        ::close(file);
        if (decoded) return *decoded;
    }
#endif
    const std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) return nullptr;
    return FreeImage_LoadIsolated(format, *bytes, flags);
}

FIBITMAP* FreeImage_LoadIsolated(int format, std::span<const std::uint8_t> bytes, int flags) {
    if (ToLibraryFormat(format) < 0 || bytes.empty()) return nullptr;
    return DecodeIsolated(format, bytes, flags, CurrentDecodeBudget());
}

FIBITMAP* FreeImage_LoadFromMemory(int format, FIMEMORY* stream, int flags) {
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!stream || !::FreeImage_AcquireMemory(stream, &data, &size) || !data) return nullptr;
    // Always decode from the start, whatever the stream's position.
    ::FreeImage_SeekMemory(stream, 0, SEEK_SET);
    return FreeImage_LoadFromBytes(format, std::span<const std::uint8_t>(data, size), flags);
}

FIBITMAP* FreeImage_LoadFromBuffer(int format, const std::uint8_t* data, int flags,
                                   std::size_t limit) {
    if (!data || ToLibraryFormat(format) != FIF_PNG) return nullptr;
    const std::size_t length = PngLengthInBuffer(data, limit);
    if (length == 0) return nullptr;
    return FreeImage_LoadIsolated(format, std::span<const std::uint8_t>(data, length), flags);
}

// ---- saving ----

bool FreeImage_SaveToMemory(int format, FIBITMAP* bitmap, FIMEMORY* stream, int flags) {
    InstallLibraryCallbacks();
    const int libraryFormat = ToLibraryFormat(format);
    if (!bitmap || !stream || libraryFormat < 0) return false;
    const auto fif = static_cast<FREE_IMAGE_FORMAT>(libraryFormat);
    ReportProgress(0);
    bool ok = false;
    // Formats whose library output we finish ourselves are encoded into a
    // scratch stream first.
    const auto finished = [&](auto finish) {
        MemoryStream plain = OpenMemoryStream();
        if (!::FreeImage_SaveToMemory(fif, bitmap, plain.get(), flags & ~kPngSaveExtendedEffort))
            return false;
        const std::vector<std::uint8_t> bytes = finish(StreamBytes(plain.get()));
        return ::FreeImage_WriteMemory(bytes.data(), 1, static_cast<unsigned>(bytes.size()),
                                       stream) == bytes.size();
    };
    if (fif == FIF_PNG && (flags & kPngSaveExtendedEffort)) {
        ok = finished(
            [&](const std::vector<std::uint8_t>& png) { return RecompressPng(png, flags & 0x0F); });
    } else if (fif == FIF_GIF) {
        ok = finished(
            [](const std::vector<std::uint8_t>& gif) { return WithoutStillAnimationBlock(gif); });
    } else if (fif == FIF_JPEG) {
        const JpegEncodeOutcome outcome = EncodeJpegFromRows(bitmap, stream, flags);
        ok = outcome == JpegEncodeOutcome::Written ||
             (outcome == JpegEncodeOutcome::NotHandled &&
              ::FreeImage_SaveToMemory(fif, bitmap, stream, flags & ~kJpegSaveReleaseRows));
    } else {
        ok = ::FreeImage_SaveToMemory(fif, bitmap, stream, flags);
    }
    ReportProgress(10000);
    return ok;
}

bool FreeImage_Save(int format, FIBITMAP* bitmap, const std::string& path, int flags) {
    MemoryStream stream = OpenMemoryStream();
    if (!FreeImage_SaveToMemory(format, bitmap, stream.get(), flags)) return false;
    return WriteFileReplacing(path, StreamBytes(stream.get())).empty();
}

// ---- carried data ----

int FreeImage_GetJPEGQuality(FIBITMAP* bitmap) {
    return static_cast<int>(GetCustomLong(bitmap, kKeyJpegQuality));
}

unsigned FreeImage_GetOriginalBPP(FIBITMAP* bitmap) {
    return GetCustomLong(bitmap, kKeyOriginalBpp);
}

bool FreeImage_OriginalHasAlpha(FIBITMAP* bitmap) {
    return GetCustomLong(bitmap, kKeyOriginalHasAlpha) != 0;
}

bool SetMetadataTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key,
                    FREE_IMAGE_MDTYPE type, DWORD count, DWORD length, const void* value) {
    FITAG* tag = ::FreeImage_CreateTag();
    if (!tag) return false;
    ::FreeImage_SetTagKey(tag, key);
    ::FreeImage_SetTagType(tag, type);
    ::FreeImage_SetTagCount(tag, count);
    ::FreeImage_SetTagLength(tag, length);
    ::FreeImage_SetTagValue(tag, value);
    const bool attached = ::FreeImage_SetMetadata(model, bitmap, key, tag);
    ::FreeImage_DeleteTag(tag);
    return attached;
}

void RecordOriginalFacts(FIBITMAP* bitmap, int jpegQuality) {
    if (!bitmap) return;
    const FREE_IMAGE_TYPE type = ::FreeImage_GetImageType(bitmap);
    const bool hasAlphaChannel = type == FIT_RGBA16 || type == FIT_RGBAF ||
                                 (type == FIT_BITMAP && ::FreeImage_GetBPP(bitmap) == 32 &&
                                  ::FreeImage_IsTransparent(bitmap));
    SetCustomLong(bitmap, kKeyOriginalBpp, ::FreeImage_GetBPP(bitmap));
    SetCustomLong(bitmap, kKeyOriginalHasAlpha, hasAlphaChannel ? 1 : 0);
    SetCustomLong(bitmap, kKeyJpegQuality,
                  static_cast<std::uint32_t>(std::clamp(jpegQuality, 0, 100)));
}

void RecordOriginalAlpha(FIBITMAP* bitmap, bool hasAlpha) {
    if (bitmap) SetCustomLong(bitmap, kKeyOriginalHasAlpha, hasAlpha ? 1 : 0);
}

void CarryBitmapData(FIBITMAP* from, FIBITMAP* to) {
    if (!from || !to || from == to) return;
    ::FreeImage_CloneMetadata(to, from);
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(from);
    const FIICCPROFILE* existing = ::FreeImage_GetICCProfile(to);
    if (profile && profile->data && profile->size > 0 && (!existing || existing->size == 0)) {
        ::FreeImage_CreateICCProfile(to, profile->data, profile->size);
    }
}

// ---- conversions ----

namespace {
FIBITMAP* Carried(FIBITMAP* from, FIBITMAP* to) {
    CarryBitmapData(from, to);
    return to;
}
}  // namespace

FIBITMAP* FreeImage_Clone(FIBITMAP* b) {
    return b ? Carried(b, ::FreeImage_Clone(b)) : nullptr;
}
FIBITMAP* FreeImage_SharedPixelsView(FIBITMAP* b) {
    if (!b || !::FreeImage_HasPixels(b) || ::FreeImage_GetImageType(b) != FIT_BITMAP)
        return nullptr;
    const unsigned bpp = ::FreeImage_GetBPP(b);
    if (bpp != 24 && bpp != 32) return nullptr;
    // Bottom-up, as the library keeps its own rows: the view's rows are the
    // source's rows in the same order.
    FIBITMAP* view = ::FreeImage_ConvertFromRawBitsEx(
        FALSE, ::FreeImage_GetBits(b), FIT_BITMAP, static_cast<int>(::FreeImage_GetWidth(b)),
        static_cast<int>(::FreeImage_GetHeight(b)), static_cast<int>(::FreeImage_GetPitch(b)), bpp,
        ::FreeImage_GetRedMask(b), ::FreeImage_GetGreenMask(b), ::FreeImage_GetBlueMask(b), FALSE);
    if (!view) return nullptr;
    ::FreeImage_SetDotsPerMeterX(view, ::FreeImage_GetDotsPerMeterX(b));
    ::FreeImage_SetDotsPerMeterY(view, ::FreeImage_GetDotsPerMeterY(b));
    ::FreeImage_SetTransparent(view, ::FreeImage_IsTransparent(b));
    RGBQUAD background{};
    if (::FreeImage_GetBackgroundColor(b, &background))
        ::FreeImage_SetBackgroundColor(view, &background);
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(b);
    if (profile && profile->data && profile->size > 0) {
        FIICCPROFILE* own = ::FreeImage_CreateICCProfile(view, profile->data, profile->size);
        if (own) own->flags = profile->flags;
    }
    ::FreeImage_CloneMetadata(view, b);
    if (FIBITMAP* thumbnail = ::FreeImage_GetThumbnail(b))
        ::FreeImage_SetThumbnail(view, thumbnail);
    return view;
}

FIBITMAP* FreeImage_ConvertTo24Bits(FIBITMAP* b) {
    return b ? Carried(b, ::FreeImage_ConvertTo24Bits(b)) : nullptr;
}
FIBITMAP* FreeImage_ConvertTo32Bits(FIBITMAP* b) {
    return b ? Carried(b, ::FreeImage_ConvertTo32Bits(b)) : nullptr;
}
FIBITMAP* FreeImage_ConvertToGreyscale(FIBITMAP* b) {
    return b ? Carried(b, ::FreeImage_ConvertToGreyscale(b)) : nullptr;
}
FIBITMAP* FreeImage_ConvertToStandardType(FIBITMAP* b, bool scaleLinear) {
    return b ? Carried(b, ::FreeImage_ConvertToStandardType(b, scaleLinear)) : nullptr;
}
FIBITMAP* FreeImage_GetComplexChannel(FIBITMAP* b, FREE_IMAGE_COLOR_CHANNEL channel) {
    return b ? Carried(b, ::FreeImage_GetComplexChannel(b, channel)) : nullptr;
}
FIBITMAP* FreeImage_ToneMapping(FIBITMAP* b, FREE_IMAGE_TMO tmo, double first, double second) {
    if (!b) return nullptr;
    ReportProgress(0);
    FIBITMAP* result = Carried(b, ::FreeImage_ToneMapping(b, tmo, first, second));
    ReportProgress(10000);
    return result;
}
FIBITMAP* FreeImage_ColorQuantizeEx(FIBITMAP* b, FREE_IMAGE_QUANTIZE method, int colors) {
    if (!b) return nullptr;
    ReportProgress(0);
    FIBITMAP* result = Carried(b, ::FreeImage_ColorQuantizeEx(b, method, colors, 0, nullptr));
    ReportProgress(10000);
    return result;
}
FIBITMAP* FreeImage_Dither(FIBITMAP* b, FREE_IMAGE_DITHER algorithm) {
    return b ? Carried(b, ::FreeImage_Dither(b, algorithm)) : nullptr;
}
FIBITMAP* FreeImage_Composite(FIBITMAP* b, RGBQUAD background) {
    return b ? Carried(b, ::FreeImage_Composite(b, FALSE, &background, nullptr)) : nullptr;
}
FIBITMAP* FreeImage_Rescale(FIBITMAP* b, int width, int height, FREE_IMAGE_FILTER filter) {
    if (!b) return nullptr;
    ReportProgress(0);
    FIBITMAP* result = Carried(b, ::FreeImage_Rescale(b, width, height, filter));
    ReportProgress(10000);
    return result;
}
FIBITMAP* FreeImage_Rotate(FIBITMAP* b, double angle) {
    return b ? Carried(b, ::FreeImage_Rotate(b, angle, nullptr)) : nullptr;
}

bool FreeImage_ConvertToGreyscaleInPlace(FIBITMAP* bitmap) {
    if (!bitmap || ::FreeImage_GetImageType(bitmap) != FIT_BITMAP) return false;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp != 24 && bpp != 32) return false;
    const unsigned step = bpp / 8;
    const unsigned width = ::FreeImage_GetWidth(bitmap), height = ::FreeImage_GetHeight(bitmap);
    for (unsigned y = 0; y < height; ++y) {
        BYTE* pixel = ::FreeImage_GetScanLine(bitmap, y);
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            // The weights of the library's own greyscale conversion (Rec. 709),
            // so both greyscale paths give the same grey values.
            const double grey = 0.2126 * pixel[FI_RGBA_RED] + 0.7152 * pixel[FI_RGBA_GREEN] +
                                0.0722 * pixel[FI_RGBA_BLUE];
            const BYTE value = static_cast<BYTE>(std::min(255.0, grey + 0.5));
            pixel[FI_RGBA_RED] = pixel[FI_RGBA_GREEN] = pixel[FI_RGBA_BLUE] = value;
        }
    }
    return true;
}

bool FreeImage_IsTransparent(FIBITMAP* bitmap, int mode) {
    if (!bitmap || !::FreeImage_IsTransparent(bitmap)) return false;
    if (mode == 0) return true;
    const FREE_IMAGE_TYPE type = ::FreeImage_GetImageType(bitmap);
    if (type == FIT_RGBA16) return AlphaInUse<FIRGBA16, WORD>(bitmap, 0xFFFF, &FIRGBA16::alpha);
    if (type == FIT_RGBAF) return AlphaInUse<FIRGBAF, float>(bitmap, 1.0f, &FIRGBAF::alpha);
    if (type != FIT_BITMAP) return true;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    if (bpp == 32) return Alpha32InUse(bitmap);
    if (bpp <= 8) return HasUsedTransparentIndex(bitmap);
    return true;
}

// ---- callbacks ----

void FreeImage_SetProgress(ProgressCallback callback) {
    tProgress = std::move(callback);
}

void ReportProgress(int value) {
    if (tProgress) tProgress(std::clamp(value, 0, 10000));
}

OutputMessageHandler FreeImage_SetOutputMessage(OutputMessageHandler handler) {
    InstallLibraryCallbacks();
    OutputMessageHandler previous = std::move(tOutputHandler);
    tOutputHandler = std::move(handler);
    return previous;
}

}  // namespace pimo::imagelib
