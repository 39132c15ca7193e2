#include "engine/imagelib/jpeg_encode.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

namespace {

// The save flags this writer reproduces; any other goes to the library's.
constexpr int kQualityBits = 0x7F;
constexpr int kHandledFlags = kQualityBits | JPEG_PROGRESSIVE | JPEG_OPTIMIZE |
                              JPEG_SUBSAMPLING_411 | JPEG_SUBSAMPLING_420 | JPEG_SUBSAMPLING_422 |
                              JPEG_SUBSAMPLING_444 | kJpegSaveReleaseRows;

// The markers the library's writer adds after the JFIF header for the
// bitmap's comments, profiles, metadata and thumbnail, taken from its own
// encode of a small stand-in that carries the same: what it writes there
// depends on nothing else. Each is the marker code and its payload.
struct Marker {
    int code;
    std::vector<JOCTET> payload;
};

bool CarriesMarkerData(FIBITMAP* bitmap) {
    if (::FreeImage_GetThumbnail(bitmap)) return true;
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap);
    if (profile && profile->data && profile->size > 0) return true;
    for (const FREE_IMAGE_MDMODEL model : {FIMD_COMMENTS, FIMD_IPTC, FIMD_XMP, FIMD_EXIF_RAW})
        if (::FreeImage_GetMetadataCount(model, bitmap) > 0) return true;
    return false;
}

// False when the stand-in could not be encoded.
bool WrittenMarkers(FIBITMAP* bitmap, int flags, std::vector<Marker>& markers) {
    if (!CarriesMarkerData(bitmap)) return true;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    const Bitmap standIn(::FreeImage_Allocate(8, 8, static_cast<int>(bpp)));
    if (!standIn) return false;
    ::FreeImage_CloneMetadata(standIn.get(), bitmap);
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap);
    if (profile && profile->data && profile->size > 0)
        ::FreeImage_CreateICCProfile(standIn.get(), profile->data, profile->size);
    if (FIBITMAP* thumbnail = ::FreeImage_GetThumbnail(bitmap))
        ::FreeImage_SetThumbnail(standIn.get(), thumbnail);
    const MemoryStream stream = OpenMemoryStream();
    if (!::FreeImage_SaveToMemory(FIF_JPEG, standIn.get(), stream.get(),
                                  flags & ~kJpegSaveReleaseRows))
        return false;
    const std::vector<std::uint8_t> bytes = StreamBytes(stream.get());
    // SOI, the JFIF header, then the added markers up to the first table.
    std::size_t at = 2;
    bool jfifSeen = false;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
        const int code = bytes[at + 1];
        if (!(code >= JPEG_APP0 && code <= JPEG_APP0 + 15) && code != JPEG_COM) break;
        const std::size_t length = (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        if (length < 2 || at + 2 + length > bytes.size()) return false;
        const auto* payload = bytes.data() + at + 4;
        const bool jfif = code == JPEG_APP0 && length >= 7 && std::memcmp(payload, "JFIF", 5) == 0;
        if (jfif && !jfifSeen) {
            jfifSeen = true;  // libjpeg writes it again
        } else {
            markers.push_back(Marker{code, std::vector<JOCTET>(payload, payload + length - 2)});
        }
        at += 2 + length;
    }
    return true;
}

struct ErrorManager {
    jpeg_error_mgr base{};
    std::jmp_buf jump{};
};

[[noreturn]] void ExitWithError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings and errors reach the library's output message, as its writer's do.
void ReportMessage(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    ::FreeImage_OutputMessageProc(FIF_JPEG, "%s", text);
}

// The encoded bytes go to the memory stream in large pieces.
struct Destination {
    jpeg_destination_mgr base{};
    FIMEMORY* stream = nullptr;
    std::vector<JOCTET>* buffer = nullptr;
    bool failed = false;
};

Destination& DestinationOf(j_compress_ptr info) {
    return *reinterpret_cast<Destination*>(info->dest);
}

void StartDestination(j_compress_ptr info) {
    Destination& d = DestinationOf(info);
    d.base.next_output_byte = d.buffer->data();
    d.base.free_in_buffer = d.buffer->size();
}

bool Flush(Destination& d, std::size_t count) {
    if (count == 0) return true;
    const auto written =
        ::FreeImage_WriteMemory(d.buffer->data(), 1, static_cast<unsigned>(count), d.stream);
    return written == count;
}

boolean EmptyDestination(j_compress_ptr info) {
    Destination& d = DestinationOf(info);
    if (!Flush(d, d.buffer->size())) ERREXIT(info, JERR_FILE_WRITE);
    StartDestination(info);
    return TRUE;
}

void EndDestination(j_compress_ptr info) {
    Destination& d = DestinationOf(info);
    if (!Flush(d, d.buffer->size() - d.base.free_in_buffer)) ERREXIT(info, JERR_FILE_WRITE);
}

// Gives the pages of rows the encoder has taken back to the system. The rows
// are taken from the top of the picture, which is the end of the bitmap's
// memory: `taken` is where the taken rows begin. Only whole pages of the
// rows go, never one that the bitmap shares with other memory.
class RowRelease {
  public:
    RowRelease(std::uintptr_t begin, std::uintptr_t end)
        : m_page(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE))),
          m_begin(begin),
          m_released(end & ~(m_page - 1)) {}

    // A call a large page apart at the least, or the last one (`all`).
    void upTo(std::uintptr_t taken, bool all) {
        const std::uintptr_t from = (std::max(taken, m_begin) + m_page - 1) & ~(m_page - 1);
        if (from >= m_released || (!all && m_released - from < kStep)) return;
        ::madvise(reinterpret_cast<void*>(from), m_released - from, MADV_DONTNEED);
        m_released = from;
    }

  private:
    static constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
    std::uintptr_t m_page;
    std::uintptr_t m_begin;
    std::uintptr_t m_released;  // where the pages given back so far begin
};

struct Job {
    FIBITMAP* bitmap;
    int flags;
    const std::vector<Marker>* markers;
    Destination* destination;
};

// Kept free of objects with destructors because of the jump.
bool Encode(jpeg_compress_struct& info, ErrorManager& errors, const Job& job) {
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    info.dest = &job.destination->base;
    FIBITMAP* bitmap = job.bitmap;
    const int flags = job.flags;
    const unsigned width = ::FreeImage_GetWidth(bitmap);
    const unsigned height = ::FreeImage_GetHeight(bitmap);
    const bool grey = ::FreeImage_GetBPP(bitmap) == 8;
    info.image_width = width;
    info.image_height = height;
    // The bitmap's rows as they are: libjpeg reads the blue-green-red order itself.
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    info.input_components = grey ? 1 : 3;
    jpeg_set_defaults(&info);
    if ((flags & JPEG_PROGRESSIVE) == JPEG_PROGRESSIVE) jpeg_simple_progression(&info);
    if ((flags & JPEG_OPTIMIZE) == JPEG_OPTIMIZE) info.optimize_coding = TRUE;
    // Rounded as the library's writer rounds them, for the same bytes.
    // NOLINTBEGIN(bugprone-incorrect-roundings)
    info.X_density = static_cast<UINT16>(0.5 + 0.0254 * ::FreeImage_GetDotsPerMeterX(bitmap));
    info.Y_density = static_cast<UINT16>(0.5 + 0.0254 * ::FreeImage_GetDotsPerMeterY(bitmap));
    // NOLINTEND(bugprone-incorrect-roundings)
    info.density_unit = 1;
    if (::FreeImage_GetThumbnail(bitmap)) {
        info.write_JFIF_header = TRUE;
        info.JFIF_minor_version = 2;
    }
    if (!grey) {
        int luma[2] = {0, 0};  // horizontal and vertical; none: the defaults
        if ((flags & JPEG_SUBSAMPLING_411) == JPEG_SUBSAMPLING_411) {
            luma[0] = 4, luma[1] = 1;
        } else if ((flags & JPEG_SUBSAMPLING_420) == JPEG_SUBSAMPLING_420) {
            luma[0] = 2, luma[1] = 2;
        } else if ((flags & JPEG_SUBSAMPLING_422) == JPEG_SUBSAMPLING_422) {
            luma[0] = 2, luma[1] = 1;
        } else if ((flags & JPEG_SUBSAMPLING_444) == JPEG_SUBSAMPLING_444) {
            luma[0] = 1, luma[1] = 1;
        }
        if (luma[0] != 0) {
            info.comp_info[0].h_samp_factor = luma[0];
            info.comp_info[0].v_samp_factor = luma[1];
            for (int c = 1; c < 3; ++c) {
                info.comp_info[c].h_samp_factor = 1;
                info.comp_info[c].v_samp_factor = 1;
            }
        }
    }
    const int quality = (flags & kQualityBits) == 0 ? 75 : flags & kQualityBits;
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (const Marker& marker : *job.markers) {
        jpeg_write_marker(&info, marker.code, marker.payload.data(),
                          static_cast<unsigned>(marker.payload.size()));
    }

    // Rows go in as many as libjpeg takes at a time: the bitmap keeps them
    // bottom-up, so the picture's top row is its last.
    const std::size_t pitch = ::FreeImage_GetPitch(bitmap);
    BYTE* bits = ::FreeImage_GetBits(bitmap);
    const bool release = (flags & kJpegSaveReleaseRows) != 0;
    const auto begin = reinterpret_cast<std::uintptr_t>(bits);
    RowRelease pages(begin, begin + pitch * height);
    constexpr unsigned kRows = 16;
    JSAMPROW rows[kRows];
    while (info.next_scanline < height) {
        const unsigned first = info.next_scanline;
        const unsigned count = std::min(kRows, height - first);
        for (unsigned i = 0; i < count; ++i) rows[i] = bits + pitch * (height - 1 - first - i);
        jpeg_write_scanlines(&info, rows, count);
        // Rows libjpeg has not yet turned into blocks wait in its own buffers,
        // copied: what it has been given is never read again.
        if (release) pages.upTo(begin + pitch * (height - info.next_scanline), false);
    }
    if (release) pages.upTo(begin, true);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

bool Handled(FIBITMAP* bitmap, int flags) {
    if (!bitmap || (flags & ~kHandledFlags) != 0) return false;
    if (::FreeImage_GetImageType(bitmap) != FIT_BITMAP || !::FreeImage_HasPixels(bitmap))
        return false;
    const unsigned bpp = ::FreeImage_GetBPP(bitmap);
    const FREE_IMAGE_COLOR_TYPE type = ::FreeImage_GetColorType(bitmap);
    return (bpp == 24 && type == FIC_RGB) || (bpp == 8 && type == FIC_MINISBLACK);
}

}  // namespace

JpegEncodeOutcome EncodeJpegFromRows(FIBITMAP* bitmap, FIMEMORY* stream, int flags) {
    if (!stream || !Handled(bitmap, flags)) return JpegEncodeOutcome::NotHandled;
    std::vector<Marker> markers;
    if (!WrittenMarkers(bitmap, flags, markers)) return JpegEncodeOutcome::NotHandled;
    std::vector<JOCTET> buffer(std::size_t{64} << 10);
    Destination destination;
    destination.stream = stream;
    destination.buffer = &buffer;
    destination.base.init_destination = StartDestination;
    destination.base.empty_output_buffer = EmptyDestination;
    destination.base.term_destination = EndDestination;
    jpeg_compress_struct info{};
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ExitWithError;
    errors.base.output_message = ReportMessage;
    const Job job{bitmap, flags, &markers, &destination};
    if (Encode(info, errors, job)) return JpegEncodeOutcome::Written;
    ReportMessage(reinterpret_cast<j_common_ptr>(&info));
    return JpegEncodeOutcome::Failed;
}

}  // namespace pimo::imagelib
