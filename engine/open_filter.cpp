#include "engine/open_filter.h"

#include <cctype>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace {

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

OpenFilter BuildOpenFilter() {
    std::string all = "All known types|";
    std::string types;
    std::string extensions = ",";
    const int count = ::FreeImage_GetFIFCount();
    for (int index = 0; index < count; ++index) {
        const auto format = static_cast<FREE_IMAGE_FORMAT>(index);
        if (!::FreeImage_FIFSupportsReading(format)) continue;
        const char* listText = ::FreeImage_GetFIFExtensionList(format);
        const char* descriptionText = ::FreeImage_GetFIFDescription(format);
        const std::string list = listText ? listText : "";
        const std::string description = descriptionText ? descriptionText : "";
        types += description + " (" + list + ")|";
        extensions += list + ",";
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(',', start);
            if (end == std::string::npos) end = list.size();
            const std::string pattern = "*." + list.substr(start, end - start) + ";";
            types += pattern;
            all += pattern;
            start = end + 1;
        }
        types += "|";
    }
    return OpenFilter{all + "|" + types, LowerAscii(extensions)};
}

OpenFilter OpenFilterForMode(OptimizationMode mode) {
    if (mode == OptimizationMode::AutoKeepFormat)
        return OpenFilter{std::string(kKeepFormatFilter), std::string(kKeepFormatExtensions)};
    return BuildOpenFilter();
}

std::string ReadableExtensions(OptimizationMode mode) {
    return OpenFilterForMode(mode).readableExtensions;
}

std::string FileExtension(std::string_view path) {
    const std::size_t dot = path.find_last_of("./\\");
    if (dot == std::string_view::npos || path[dot] != '.') return {};
    const std::string_view extension = path.substr(dot);
    return std::string(extension.size() > 1 ? extension.substr(1) : extension);
}

bool HasReadableExtension(std::string_view path, std::string_view readableExtensions) {
    const std::string extension = FileExtension(path);
    if (extension.empty()) return false;
    return readableExtensions.find("," + LowerAscii(extension) + ",") != std::string_view::npos;
}

}  // namespace pimo::engine
