#pragma once
// The file types the open dialog offers and the extensions the program
// accepts as images (the batch list takes only files whose extension is
// among them). In the mode that keeps the source's format only JPEG, GIF and
// PNG are offered; in every other mode, every format the image library reads.

#include <string>
#include <string_view>

#include "engine/optimization_mode.h"

namespace pimo::engine {

/// The open dialog's filter ("description|patterns|..." pairs) and the
/// readable extensions: lower case, each followed by a comma, the whole list
/// starting with a comma (",bmp,ico,jpg,jpeg,...,").
struct OpenFilter {
    std::string filter;
    std::string readableExtensions;
};

/// The fixed types of mode 1 (automatic, keeping the source's format).
inline constexpr std::string_view kKeepFormatFilter =
    "All supported|*.jpeg;*.jpg;*.png;*.gif|JPEG|*.jpg;*.jpeg|GIF|*.gif|PNG|*.png";
inline constexpr std::string_view kKeepFormatExtensions = ",jpg,jpeg,gif,png,";

/// Every format the image library reads, in the library's format order: an
/// "All known types" entry with every pattern, then one entry per format,
/// "Description (ext1,ext2)" with "*.ext1;*.ext2;". Every pattern list ends
/// with ";" and the filter ends with "|".
OpenFilter BuildOpenFilter();

/// The filter and extensions in force for an optimization mode: the fixed
/// list for mode 1, BuildOpenFilter for every other mode.
OpenFilter OpenFilterForMode(OptimizationMode mode);

/// The readable extensions of an optimization mode.
std::string ReadableExtensions(OptimizationMode mode);

/// The extension of a path as the file lists see it: the text from the last
/// dot of the file name, without the dot unless the dot is all there is.
/// Empty when the name has no dot. Both "/" and "\" end a folder name.
std::string FileExtension(std::string_view path);

/// Whether the lower-case extension of `path`, enclosed in commas, occurs in
/// `readableExtensions`. A path without an extension is not readable; a name
/// ending in a dot is not either.
bool HasReadableExtension(std::string_view path, std::string_view readableExtensions);

}  // namespace pimo::engine
