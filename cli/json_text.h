#pragma once
// JSON strings for pimo-cli's --json output. File names on disk are bytes,
// not always UTF-8; the output stays valid JSON (UTF-8 only) whatever they
// hold.

#include <string>
#include <string_view>

namespace pimo::cli {

/// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF).
bool IsUtf8(std::string_view text);

/// `text` as a quoted JSON string: quotes, backslashes and control
/// characters escaped, and every byte that is not part of well-formed UTF-8
/// written as U+FFFD, so that the result always parses.
std::string JsonText(std::string_view text);

/// A JSON member holding a path: `"name":"..."`, and, when the path is not
/// UTF-8 (its string then shows U+FFFD for the bytes it cannot carry),
/// `"name_hex":"..."` with its exact bytes.
std::string JsonPath(const std::string& name, const std::string& path);

/// `text`'s bytes as lower-case hexadecimal: a name that is not UTF-8 can
/// still be found from it exactly.
std::string HexBytes(std::string_view text);

}  // namespace pimo::cli
