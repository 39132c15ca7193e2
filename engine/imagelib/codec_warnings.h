#pragma once
// Messages that codec libraries print on their own (libtiff writes warnings
// and errors to standard error) brought into the image library's one
// output-message path, which our layer dispatches per thread.

#include <string_view>

namespace pimo::imagelib {

/// Whether a libtiff message (module and formatted text) is noise about a
/// file that still decodes: tags libtiff or the library's metadata reader do
/// not know, tags out of order or with a wrong count or type that libtiff
/// skips. Such messages are dropped instead of being reported as errors.
bool IsHarmlessTiffMessage(std::string_view module, std::string_view text);

/// Installs libtiff's warning and error handlers: harmless messages are
/// dropped, the others go to the library's output-message path as a TIFF
/// message "<module>: <text>" ("<module>: Warning, <text>" for a warning).
/// libtiff's handlers are process-wide; the message reaches the handler of
/// the thread that decodes. Idempotent.
void RouteTiffMessages();

}  // namespace pimo::imagelib
