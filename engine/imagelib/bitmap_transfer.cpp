#include "engine/imagelib/bitmap_transfer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <utility>

namespace pimo::imagelib {

namespace {

constexpr std::uint32_t kMagic = 0x50494D54;  // "PIMT"
// Pixels start at a multiple of this from the transfer's start, so that the
// receiver can use them where they lie (the library wants aligned rows).
constexpr std::size_t kPixelAlignment = 64;
constexpr std::uint8_t kZeros[kPixelAlignment] = {};

// Both ends are one machine: values go in host byte order.
struct Counter {
    std::size_t size = 0;
    void put(const void*, std::size_t length) { size += length; }
    void putPixels(const void* data, std::size_t length) { put(data, length); }
    std::size_t position() const { return size; }
};

struct Writer {
    std::span<std::uint8_t> out;
    std::size_t at = 0;
    bool releasePixels = false;
    const PixelFill* fill = nullptr;  // makes the first bitmap's pixels, which it lacks
    bool filled = true;
    void put(const void* data, std::size_t length) {
        if (length) std::memcpy(out.data() + at, data, length);
        at += length;
    }
    // With `releasePixels`, the source's whole pages go back to the system as
    // soon as they are copied, so that the pixels are never held twice.
    void putPixels(const void* data, std::size_t length) {
        if (fill) {
            filled = (*fill)(out.subspan(at, length));
            fill = nullptr;  // the thumbnail has pixels of its own
            at += length;
            return;
        }
#ifndef _WIN32
        if (releasePixels) {
            constexpr std::size_t kChunk = std::size_t{4} << 20;
            const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGE_SIZE));
            const auto* from = static_cast<const std::uint8_t*>(data);
            for (std::size_t done = 0; done < length;) {
                const std::size_t part = std::min(kChunk, length - done);
                put(from + done, part);
                const auto first =
                    (reinterpret_cast<std::uintptr_t>(from + done) + page - 1) & ~(page - 1);
                const auto end = reinterpret_cast<std::uintptr_t>(from + done + part) & ~(page - 1);
                if (end > first)
                    ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
                done += part;
            }
            return;
        }
#endif
        put(data, length);
    }
    std::size_t position() const {
        return at;
    }
};

template <typename Sink>
void Put32(Sink& sink, std::uint32_t value) {
    sink.put(&value, sizeof value);
}

template <typename Sink>
void PutBlock(Sink& sink, const void* data, std::uint64_t length) {
    sink.put(&length, sizeof length);
    sink.put(data, static_cast<std::size_t>(length));
}

template <typename Sink>
void PutPixels(Sink& sink, const void* data, std::uint64_t length) {
    sink.put(&length, sizeof length);
    sink.putPixels(data, static_cast<std::size_t>(length));
}

void ForEachTag(FIBITMAP* bitmap, const std::function<void(FREE_IMAGE_MDMODEL, FITAG*)>& visit) {
    for (int model = FIMD_COMMENTS; model <= FIMD_EXIF_RAW; ++model) {
        FITAG* tag = nullptr;
        FIMETADATA* search =
            ::FreeImage_FindFirstMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), bitmap, &tag);
        if (!search) continue;
        do {
            visit(static_cast<FREE_IMAGE_MDMODEL>(model), tag);
        } while (::FreeImage_FindNextMetadata(search, &tag));
        ::FreeImage_FindCloseMetadata(search);
    }
}

template <typename Sink>
void PutTags(Sink& sink, FIBITMAP* bitmap) {
    std::uint32_t count = 0;
    ForEachTag(bitmap, [&](FREE_IMAGE_MDMODEL, FITAG*) { ++count; });
    Put32(sink, count);
    ForEachTag(bitmap, [&](FREE_IMAGE_MDMODEL model, FITAG* tag) {
        const char* key = ::FreeImage_GetTagKey(tag);
        Put32(sink, model);
        PutBlock(sink, key, key ? std::strlen(key) : 0);
        Put32(sink, ::FreeImage_GetTagID(tag));
        Put32(sink, ::FreeImage_GetTagType(tag));
        Put32(sink, ::FreeImage_GetTagCount(tag));
        PutBlock(sink, ::FreeImage_GetTagValue(tag), ::FreeImage_GetTagLength(tag));
    });
}

// One bitmap: its shape, then its body (palette, transparency, profile, tags
// and pixels).
template <typename Sink>
void PutBitmap(Sink& sink, FIBITMAP* bitmap) {
    for (std::uint32_t value :
         {std::uint32_t(::FreeImage_GetImageType(bitmap)), ::FreeImage_GetWidth(bitmap),
          ::FreeImage_GetHeight(bitmap), ::FreeImage_GetBPP(bitmap), ::FreeImage_GetRedMask(bitmap),
          ::FreeImage_GetGreenMask(bitmap), ::FreeImage_GetBlueMask(bitmap),
          ::FreeImage_GetDotsPerMeterX(bitmap), ::FreeImage_GetDotsPerMeterY(bitmap),
          std::uint32_t(::FreeImage_IsTransparent(bitmap))}) {
        Put32(sink, value);
    }
    RGBQUAD background{};
    const bool hasBackground = ::FreeImage_GetBackgroundColor(bitmap, &background);
    Put32(sink, hasBackground ? 1 : 0);
    sink.put(&background, sizeof background);

    const RGBQUAD* palette = ::FreeImage_GetPalette(bitmap);
    PutBlock(sink, palette,
             palette ? std::uint64_t{::FreeImage_GetColorsUsed(bitmap)} * sizeof(RGBQUAD) : 0);
    PutBlock(sink, ::FreeImage_GetTransparencyTable(bitmap),
             ::FreeImage_GetTransparencyCount(bitmap));
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap);
    const bool hasProfile = profile && profile->data && profile->size > 0;
    PutBlock(sink, hasProfile ? profile->data : nullptr, hasProfile ? profile->size : 0);
    Put32(sink, hasProfile ? profile->flags : 0);
    PutTags(sink, bitmap);

    Put32(sink, ::FreeImage_GetPitch(bitmap));
    // Padding, so that the pixels after it and their length are aligned.
    const std::size_t afterLengths = sink.position() + 2 * sizeof(std::uint64_t);
    PutBlock(sink, kZeros, (kPixelAlignment - afterLengths % kPixelAlignment) % kPixelAlignment);
    PutPixels(sink, ::FreeImage_GetBits(bitmap),
              std::uint64_t{::FreeImage_GetPitch(bitmap)} * ::FreeImage_GetHeight(bitmap));
}

template <typename Sink>
void Serialise(FIBITMAP* bitmap, const std::vector<LibraryMessage>& messages, Sink& sink) {
    Put32(sink, kMagic);
    Put32(sink, static_cast<std::uint32_t>(messages.size()));
    for (const LibraryMessage& message : messages) {
        Put32(sink, static_cast<std::uint32_t>(message.libraryFormat));
        PutBlock(sink, message.text.data(), message.text.size());
    }
    Put32(sink, bitmap ? 1 : 0);
    if (!bitmap) return;
    PutBitmap(sink, bitmap);
    // The JFXX or EXIF thumbnail: a saved JPEG writes it back. Only one level:
    // a thumbnail's own thumbnail is never read or written by the library.
    FIBITMAP* thumbnail = ::FreeImage_GetThumbnail(bitmap);
    Put32(sink, thumbnail ? 1 : 0);
    if (thumbnail) PutBitmap(sink, thumbnail);
}

// Reads fields, each checked against the bytes left.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    bool get32(std::uint32_t& value) { return take(&value, sizeof value); }
    bool getBlock(std::span<const std::uint8_t>& block) {
        std::uint64_t length = 0;
        if (!take(&length, sizeof length) || length > m_bytes.size() - m_at) return false;
        block = m_bytes.subspan(m_at, static_cast<std::size_t>(length));
        m_at += static_cast<std::size_t>(length);
        return true;
    }
    bool take(void* out, std::size_t length) {
        if (length > m_bytes.size() - m_at) return false;
        std::memcpy(out, m_bytes.data() + m_at, length);
        m_at += length;
        return true;
    }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
};

bool ReadTags(Reader& reader, FIBITMAP* bitmap) {
    std::uint32_t count = 0;
    if (!reader.get32(count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t model = 0, id = 0, type = 0, values = 0;
        std::span<const std::uint8_t> key, value;
        if (!reader.get32(model) || !reader.getBlock(key) || !reader.get32(id) ||
            !reader.get32(type) || !reader.get32(values) || !reader.getBlock(value)) {
            return false;
        }
        if (!bitmap || model > FIMD_EXIF_RAW || key.empty() || value.size() > UINT32_MAX) continue;
        const std::string name(key.begin(), key.end());
        FITAG* tag = ::FreeImage_CreateTag();
        if (!tag) return false;
        ::FreeImage_SetTagKey(tag, name.c_str());
        ::FreeImage_SetTagID(tag, static_cast<WORD>(id));
        ::FreeImage_SetTagType(tag, static_cast<FREE_IMAGE_MDTYPE>(type));
        ::FreeImage_SetTagCount(tag, values);
        ::FreeImage_SetTagLength(tag, static_cast<DWORD>(value.size()));
        if (::FreeImage_SetTagValue(tag, value.data())) {
            ::FreeImage_SetMetadata(static_cast<FREE_IMAGE_MDMODEL>(model), bitmap, name.c_str(),
                                    tag);
        }
        ::FreeImage_DeleteTag(tag);
    }
    return true;
}

struct Shape {
    std::uint32_t type, width, height, bpp, red, green, blue, dpmX, dpmY, transparent,
        hasBackground;
    RGBQUAD background;
};

bool ReadShape(Reader& reader, Shape& s) {
    for (std::uint32_t* field : {&s.type, &s.width, &s.height, &s.bpp, &s.red, &s.green, &s.blue,
                                 &s.dpmX, &s.dpmY, &s.transparent, &s.hasBackground}) {
        if (!reader.get32(*field)) return false;
    }
    return reader.take(&s.background, sizeof s.background) && s.type >= FIT_BITMAP &&
           s.type <= FIT_RGBAF && s.width > 0 && s.height > 0 && s.bpp > 0 && s.bpp <= 128;
}

// The pixels of the bitmap's body, which follow its palette, transparency,
// profile and tags; false when the body is malformed.
bool FindPixels(Reader reader, std::uint32_t& pitch, std::span<const std::uint8_t>& pixels) {
    std::span<const std::uint8_t> skipped;
    std::uint32_t flags = 0;
    return reader.getBlock(skipped) && reader.getBlock(skipped) && reader.getBlock(skipped) &&
           reader.get32(flags) && ReadTags(reader, nullptr) && reader.get32(pitch) &&
           reader.getBlock(skipped) && reader.getBlock(pixels);
}

// The bitmap's body: palette, transparency, profile, tags and pixels. The
// pixels are copied unless the bitmap already uses them where they lie.
bool ReadBody(Reader& reader, FIBITMAP* bitmap) {
    std::span<const std::uint8_t> palette, transparency, profile, pixels;
    std::uint32_t profileFlags = 0, pitch = 0;
    if (!reader.getBlock(palette) || !reader.getBlock(transparency) || !reader.getBlock(profile) ||
        !reader.get32(profileFlags)) {
        return false;
    }
    if (!palette.empty()) {
        RGBQUAD* own = ::FreeImage_GetPalette(bitmap);
        if (!own ||
            palette.size() != std::size_t{::FreeImage_GetColorsUsed(bitmap)} * sizeof(RGBQUAD))
            return false;
        std::memcpy(own, palette.data(), palette.size());
    }
    if (transparency.size() > 256) return false;
    if (!transparency.empty()) {
        ::FreeImage_SetTransparencyTable(bitmap, const_cast<BYTE*>(transparency.data()),
                                         static_cast<int>(transparency.size()));
    }
    if (!profile.empty() && profile.size() <= INT32_MAX) {
        FIICCPROFILE* own = ::FreeImage_CreateICCProfile(
            bitmap, const_cast<std::uint8_t*>(profile.data()), static_cast<long>(profile.size()));
        if (own) own->flags = static_cast<WORD>(profileFlags);
    }
    std::span<const std::uint8_t> padding;
    if (!ReadTags(reader, bitmap) || !reader.get32(pitch) || !reader.getBlock(padding) ||
        !reader.getBlock(pixels)) {
        return false;
    }
    if (pitch != ::FreeImage_GetPitch(bitmap) ||
        pixels.size() != std::uint64_t{pitch} * ::FreeImage_GetHeight(bitmap)) {
        return false;
    }
    if (::FreeImage_GetBits(bitmap) != pixels.data())
        std::memcpy(::FreeImage_GetBits(bitmap), pixels.data(), pixels.size());
    return true;
}

// One bitmap as PutBitmap wrote it. False when the bytes are malformed. When
// its opening cost, added to `spent` (the bitmaps read before it), exceeds the
// budget, nothing is allocated: `overBudget` is set and `bitmap` stays null.
// With `pixelOwner`, a bitmap whose pixels lie aligned in the bytes uses them
// there instead of a copy, and keeps the owner (of the bytes' memory) alive.
bool ReadBitmap(Reader& reader, const DecodeBudget& budget, std::uint64_t& spent, Bitmap& bitmap,
                bool& overBudget, const std::shared_ptr<void>& pixelOwner) {
    Shape shape{};
    if (!ReadShape(reader, shape)) return false;
    const std::uint64_t cost = OpeningCost(DeclaredSize{shape.width, shape.height, shape.bpp});
    if (spent > budget.memoryBytes || cost > budget.memoryBytes - spent) {
        overBudget = true;
        return true;
    }
    spent += cost;
    std::uint32_t pitch = 0;
    std::span<const std::uint8_t> pixels;
    if (pixelOwner && FindPixels(reader, pitch, pixels) &&
        reinterpret_cast<std::uintptr_t>(pixels.data()) % kPixelAlignment == 0 &&
        pixels.size() == std::uint64_t{pitch} * shape.height && pitch <= INT32_MAX) {
        // Bottom-up rows, as the library keeps its own. A bitmap allocated
        // here would be cleared and then overwritten: for a large image that
        // costs more than the decode that made it.
        bitmap.reset(::FreeImage_ConvertFromRawBitsEx(
            FALSE, const_cast<std::uint8_t*>(pixels.data()),
            static_cast<FREE_IMAGE_TYPE>(shape.type), static_cast<int>(shape.width),
            static_cast<int>(shape.height), static_cast<int>(pitch), shape.bpp, shape.red,
            shape.green, shape.blue, FALSE));
        if (bitmap && ::FreeImage_GetBits(bitmap.get()) == pixels.data()) {
            AttachPixelOwner(bitmap.get(), pixelOwner);
        } else {
            bitmap.reset();
        }
    }
    if (!bitmap) {
        bitmap.reset(
            ::FreeImage_AllocateT(static_cast<FREE_IMAGE_TYPE>(shape.type),
                                  static_cast<int>(shape.width), static_cast<int>(shape.height),
                                  static_cast<int>(shape.bpp), shape.red, shape.green, shape.blue));
    }
    if (!bitmap || !ReadBody(reader, bitmap.get())) return false;
    ::FreeImage_SetDotsPerMeterX(bitmap.get(), shape.dpmX);
    ::FreeImage_SetDotsPerMeterY(bitmap.get(), shape.dpmY);
    ::FreeImage_SetTransparent(bitmap.get(), shape.transparent ? TRUE : FALSE);
    if (shape.hasBackground) ::FreeImage_SetBackgroundColor(bitmap.get(), &shape.background);
    return true;
}

}  // namespace

std::size_t TransferSize(FIBITMAP* bitmap, const std::vector<LibraryMessage>& messages) {
    Counter counter;
    Serialise(bitmap, messages, counter);
    return counter.size;
}

void WriteTransfer(FIBITMAP* bitmap, const std::vector<LibraryMessage>& messages,
                   std::span<std::uint8_t> out, bool releasePixels) {
    Writer writer{out, 0, releasePixels};
    Serialise(bitmap, messages, writer);
}

bool WriteTransferFilled(FIBITMAP* headerOnly, const std::vector<LibraryMessage>& messages,
                         std::span<std::uint8_t> out, const PixelFill& fill) {
    if (!headerOnly) return false;
    Writer writer{out, 0, false, &fill};
    Serialise(headerOnly, messages, writer);
    return writer.filled;
}

std::optional<ReceivedTransfer> ReadTransfer(std::span<const std::uint8_t> bytes,
                                             const DecodeBudget& budget, bool& overBudget,
                                             std::shared_ptr<void> pixelOwner) {
    overBudget = false;
    Reader reader(bytes);
    std::uint32_t magic = 0, count = 0, present = 0;
    if (!reader.get32(magic) || magic != kMagic || !reader.get32(count)) return std::nullopt;
    ReceivedTransfer received;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t format = 0;
        std::span<const std::uint8_t> text;
        if (!reader.get32(format) || !reader.getBlock(text)) return std::nullopt;
        received.messages.push_back(
            {static_cast<int>(format), std::string(text.begin(), text.end())});
    }
    if (!reader.get32(present)) return std::nullopt;
    if (!present) return received;

    std::uint64_t spent = 0;
    Bitmap bitmap;
    if (!ReadBitmap(reader, budget, spent, bitmap, overBudget, pixelOwner)) return std::nullopt;
    if (overBudget) return received;

    std::uint32_t hasThumbnail = 0;
    if (!reader.get32(hasThumbnail)) return std::nullopt;
    if (hasThumbnail) {
        Bitmap thumbnail;
        if (!ReadBitmap(reader, budget, spent, thumbnail, overBudget, nullptr)) return std::nullopt;
        if (overBudget) return received;
        // The library attaches a copy of it.
        if (!::FreeImage_SetThumbnail(bitmap.get(), thumbnail.get())) return std::nullopt;
    }
    received.bitmap = std::move(bitmap);
    return received;
}

}  // namespace pimo::imagelib
