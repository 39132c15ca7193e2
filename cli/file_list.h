#pragma once
// The input list of --files-from: paths one per line, or separated by NUL
// characters for names that may hold a line break.

#include <istream>
#include <string>
#include <vector>

namespace pimo::cli {

/// The paths in `in`, split at `separator` ('\n' or '\0'). Empty entries
/// (blank lines, a trailing separator) are left out; everything else is kept
/// byte for byte, spaces included.
std::vector<std::string> ReadFileList(std::istream& in, char separator);

/// Reads the list named by --files-from: `source` is a file or "-" for
/// standard input. Throws UsageError when the file cannot be read.
std::vector<std::string> ReadFileList(const std::string& source, bool nulSeparated);

}  // namespace pimo::cli
