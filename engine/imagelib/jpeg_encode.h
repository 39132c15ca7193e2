#pragma once
// The JPEG writer of the library, with the pixels fed straight from the
// bitmap's rows: the same bytes, without the writer's copy of every row, and
// able to give the rows back to the system as the encoder has taken them.

struct FIBITMAP;
struct FIMEMORY;

namespace pimo::imagelib {

/// A save flag of our own: the bitmap's pixels are not read again after the
/// encode, and the pages of its rows go back to the system once the encoder
/// has taken them (they read as zeros afterwards). Nothing else of the
/// bitmap changes; it must be released by its owner when the encode returns.
inline constexpr int kJpegSaveReleaseRows = 0x01000000;

enum class JpegEncodeOutcome { Written, Failed, NotHandled };

/// Encodes a 24-bit RGB or 8-bit greyscale bitmap with the library's JPEG
/// save flags (quality in the low bits, progressive or optimised coding, the
/// chroma subsampling) into `stream` at its position, byte for byte as the
/// library's own writer does, markers included. NotHandled for any other
/// bitmap or flag, and then nothing is written; Failed after the library's
/// output message has reported why.
JpegEncodeOutcome EncodeJpegFromRows(FIBITMAP* bitmap, FIMEMORY* stream, int flags);

}  // namespace pimo::imagelib
