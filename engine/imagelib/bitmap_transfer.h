#pragma once
// A decoded bitmap as plain bytes, so that a child process can hand it to its
// parent through shared memory: pixels, type, depth, masks, palette,
// transparency table, background colour, resolution, ICC profile, every
// metadata tag (the carried custom tags included), the thumbnail (a nested
// bitmap of the same form, without one of its own), and the library's messages.

#include <FreeImage.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::imagelib {

struct LibraryMessage {
    int libraryFormat = -1;
    std::string text;
};

/// Bytes that WriteTransfer needs for this bitmap (may be null) and messages.
std::size_t TransferSize(FIBITMAP* bitmap, const std::vector<LibraryMessage>& messages);

/// Writes the bitmap and the messages into `out`, which holds exactly
/// TransferSize bytes. With `releasePixels`, the memory of the pixels (of the
/// bitmap and its thumbnail) is given back to the system as it is copied:
/// they read as zero afterwards, and the bitmap is fit only to be unloaded.
void WriteTransfer(FIBITMAP* bitmap, const std::vector<LibraryMessage>& messages,
                   std::span<std::uint8_t> out, bool releasePixels = false);

/// Fills the pixels of a bitmap in place: `pixels` holds pitch times height
/// bytes, bottom row first. False when they could not be made.
using PixelFill = std::function<bool(std::span<std::uint8_t> pixels)>;

/// As WriteTransfer, for a bitmap without pixels (loaded header only): its
/// pixels are made by `fill` where they lie in `out`, so they are written
/// once and never copied. TransferSize counts them as if the bitmap had them.
/// False when `fill` fails; `out` is then no transfer.
bool WriteTransferFilled(FIBITMAP* headerOnly, const std::vector<LibraryMessage>& messages,
                         std::span<std::uint8_t> out, const PixelFill& fill);

struct ReceivedTransfer {
    Bitmap bitmap;  // null when the decode gave none
    std::vector<LibraryMessage> messages;
};

/// Rebuilds what WriteTransfer wrote. Every field is checked against the bytes:
/// nothing when they are not a complete, consistent transfer. A bitmap whose
/// opening cost, with its thumbnail's, exceeds `budget` is not allocated:
/// `overBudget` is set. With `pixelOwner` (what keeps the memory of `bytes`,
/// writable, alive), the bitmap uses its pixels where they lie in `bytes`
/// instead of a copy and holds the owner until it is deleted; the caller must
/// then never change those bytes again.
std::optional<ReceivedTransfer> ReadTransfer(std::span<const std::uint8_t> bytes,
                                             const DecodeBudget& budget, bool& overBudget,
                                             std::shared_ptr<void> pixelOwner = nullptr);

}  // namespace pimo::imagelib
