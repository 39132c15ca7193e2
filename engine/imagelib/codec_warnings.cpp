#include "engine/imagelib/codec_warnings.h"

#include <FreeImage.h>
#include <tiffio.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace pimo::imagelib {

namespace {

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// libtiff 4.x phrases the messages that only mean "this tag was skipped".
constexpr std::array<std::string_view, 8> kHarmlessPhrases = {
    "Unknown field with tag",  // private or newer tags
    "unknown tag",             // the library's EXIF reader asking about tags libtiff lacks
    "tags are not sorted in ascending order",
    "Incorrect count for",  // "...; tag ignored" / "...; tag trimmed"
    "Incorrect value for",
    "wrong data type",
    "ASCII value for tag",  // "... does not end in null byte"
    "Nonstandard tile",
};

std::string Formatted(const char* format, va_list arguments) {
    std::array<char, 1024> buffer{};
    std::vsnprintf(buffer.data(), buffer.size(), format ? format : "", arguments);
    return buffer.data();
}

void Report(const char* module, const std::string& text, bool warning) {
    const std::string_view name = module ? module : "";
    if (IsHarmlessTiffMessage(name, text)) return;
    std::string message(name);
    if (!message.empty()) message += ": ";
    if (warning) message += "Warning, ";
    message += text;
    ::FreeImage_OutputMessageProc(FIF_TIFF, "%s", message.c_str());
}

void OnTiffWarning(const char* module, const char* format, va_list arguments) {
    Report(module, Formatted(format, arguments), true);
}

void OnTiffError(const char* module, const char* format, va_list arguments) {
    Report(module, Formatted(format, arguments), false);
}

}  // namespace

bool IsHarmlessTiffMessage(std::string_view module, std::string_view text) {
    for (const std::string_view phrase : kHarmlessPhrases) {
        if (Contains(text, phrase)) return true;
    }
    // libtiff calls a lookup of a tag it does not know an internal error.
    return module == "TIFFFieldWithTag" || module == "TIFFFieldWithName";
}

void RouteTiffMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(OnTiffWarning);
        TIFFSetErrorHandler(OnTiffError);
    });
}

}  // namespace pimo::imagelib
