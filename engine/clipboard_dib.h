#pragma once
// Decoding what the clipboard offers as a picture: the choice between a PNG
// placed there by another program and the device-independent bitmap
// (CF_DIB), and the decoding of either block. The clipboard itself (opening,
// enumerating, locking) belongs to the platform layer, which hands in the
// list of formats and the bytes of one locked block with its real length.

#include <cstdint>
#include <span>
#include <string>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

/// The standard clipboard format of a packed device-independent bitmap.
inline constexpr unsigned kClipboardFormatDib = 8;
/// The registered clipboard format name under which programs offer a PNG file.
inline constexpr const char* kClipboardFormatPngName = "PNG";

/// One format the clipboard offers: its identifier and its registered name
/// (empty for the standard formats, which have none).
struct ClipboardFormat {
    unsigned id = 0;
    std::string name;
};

enum class PasteSourceKind { None, Png, Dib };

struct PasteSource {
    PasteSourceKind kind = PasteSourceKind::None;
    unsigned format = 0;  // the clipboard format whose data is to be read
    bool operator==(const PasteSource&) const = default;
};

/// What the paste command reads. Nothing without CF_DIB (the command is
/// disabled then, even when a PNG is offered). Otherwise the first offered
/// format named exactly "PNG" (case-sensitive), because it keeps the alpha
/// channel; without one, CF_DIB. `offered` is in the clipboard's enumeration
/// order.
PasteSource ChoosePasteSource(bool dibAvailable, std::span<const ClipboardFormat> offered);

/// A bitmap from a packed device-independent bitmap: a BITMAPINFOHEADER (or
/// the V2 to V5 headers), the colour table or the BI_BITFIELDS masks, then the
/// rows, bottom-up or top-down. Handles BI_RGB at 1, 4, 8, 16 (5-5-5), 24 and
/// 32 bits and BI_BITFIELDS at 16 and 32 bits; carries the resolution over as
/// dots per metre. A 32-bit block's fourth byte is not alpha: the result is
/// opaque. The block is untrusted: a header, table, mask or row that does not
/// fit inside `block`, an unknown header size, depth or compression, or an
/// empty or negative-width image gives nullptr.
imagelib::Bitmap DecodeDib(std::span<const std::uint8_t> block);

/// Replaces what `slot` holds by the bitmap decoded from `block`; an
/// undecodable block leaves the slot empty. Returns whether the slot holds a
/// bitmap.
bool BitmapFromDIB(std::span<const std::uint8_t> block, imagelib::Bitmap& slot);

/// The new source image of a paste and the format it records.
struct PastedImage {
    imagelib::Bitmap bitmap;  // nullptr when the block does not decode
    int sourceFormat = imagelib::kFormatUnknown;
};

/// Decodes the block of the chosen source: a PNG as it is (format PNG); a
/// DIB brought to 24 bits (format 3, a pasted bitmap). `block` is the whole
/// clipboard block; a PNG's end is found from its chunks, so a block longer
/// than the file is fine. Kind None gives no bitmap and format -1.
PastedImage DecodePastedImage(PasteSourceKind kind, std::span<const std::uint8_t> block);

class Engine;

/// The paste command: the decoded block becomes the source image, without a
/// file, through the loaded-image sequence (titled "Untitled"; a block that
/// does not decode shows the loading error and the no-image state). Nothing
/// happens for kind None or while the engine is busy. Returns whether a source
/// bitmap exists afterwards.
bool OpenPastedImage(Engine& engine, PasteSourceKind kind, std::span<const std::uint8_t> block);

}  // namespace pimo::engine
