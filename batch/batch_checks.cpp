// The checks made when a run is started, and the texts a run produces.

#include <filesystem>
#include <system_error>

#include "batch/batch_runner.h"
#include "engine/compress_to_size.h"
#include "engine/host.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/open_filter.h"
#include "platform/known_folders.h"
#include "util/pimoutil.h"

namespace pimo::batch {

namespace {

using engine::MessageAnswer;
using engine::MessageButtons;
using engine::MessageKind;

constexpr const char* kNoOutputFolder = "Please specify the output folder !";
constexpr const char* kConfirmOverwrite =
    "The program is set to overwrite/delete existing files.\nIf you are sure you won't lose "
    "anything important "
    "press Yes to continue\nPress Abort to return and review the settings.";
constexpr const char* kNoResizeSize = "Please enter output width or height !";
constexpr const char* kUnevenPercent =
    "Width and height must be scaled evenly when keep aspect ratio and percent are used !";
constexpr const char* kInvalidThreshold = "The desired compressed file size is invalid !";
constexpr const char* kInvalidOutputFolder = "The output folder is invalid !";

const char* OutputExtension(int format) {
    switch (format) {
        case engine::kFormatJpeg:
            return ".jpg";
        case engine::kFormatPng:
            return ".png";
        default:
            return ".gif";
    }
}

// The path with the extension of its file name replaced, or appended when
// the name has none.
std::string WithExtension(const std::string& path, const char* extension) {
    const std::size_t cut = path.find_last_of("./\\");
    if (cut != std::string::npos && path[cut] == '.') return path.substr(0, cut) + extension;
    return path + extension;
}

std::string FileNameOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool CreateOutputFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path path = platform::PathFromUtf8(folder);
    std::filesystem::create_directories(path, error);
    return !error && std::filesystem::is_directory(path, error);
}

}  // namespace

std::optional<BatchJob> PrepareBatchRun(BatchOptions& options,
                                        const engine::OptimizationSettings& settings,
                                        std::string readableExtensions, engine::Host& host,
                                        std::string_view decimalSeparator) {
    const auto refuse = [&host](const char* message) -> std::optional<BatchJob> {
        host.showMessage(MessageKind::Error, message, MessageButtons::Ok);
        return std::nullopt;
    };
    if (options.OutputPath.empty()) return refuse(kNoOutputFolder);
    if (options.OverwriteExistingFiles || options.DeleteOriginalFiles) {
        if (host.showMessage(MessageKind::Confirmation, kConfirmOverwrite,
                             MessageButtons::YesAbort) != MessageAnswer::Yes) {
            return std::nullopt;
        }
    }
    if (options.TaskResize) {
        if (options.ResizeWidth == 0 && options.ResizeHeight == 0) return refuse(kNoResizeSize);
        if (options.ResizeKeepAspect && options.ResizePercent &&
            options.ResizeWidth != options.ResizeHeight) {
            return refuse(kUnevenPercent);
        }
    }
    BatchJob job;
    if (options.TaskCompressToSize) {
        options.SizeThreshold =
            engine::NormaliseDecimalSeparator(options.SizeThreshold, decimalSeparator);
        const double kibibytes = util::ParseDecimal(options.SizeThreshold, decimalSeparator,
                                                    util::SurroundingSpaces::Allowed)
                                     .value_or(0.0);
        job.TargetBytes = engine::KibibytesToBytes(kibibytes);
        // A negative size could never be met: refused like zero.
        if (job.TargetBytes <= 0) return refuse(kInvalidThreshold);
    }
    if (!CreateOutputFolder(options.OutputPath)) return refuse(kInvalidOutputFolder);

    job.options = options;
    job.settings = settings;
    job.readableExtensions = std::move(readableExtensions);
    return job;
}

std::string SizeChangeStatus(std::int64_t resultSize, std::int64_t originalSize) {
    if (resultSize == originalSize || originalSize <= 0) return "no change";
    const double ratio =
        static_cast<double>(resultSize) * 100.0 / static_cast<double>(originalSize);
    if (resultSize < originalSize) return "-" + util::FormatNumber(100.0 - ratio) + "% decrease";
    return "+" + util::FormatNumber(ratio - 100.0) + "% increase";
}

std::string LibraryMessageLine(int format, const std::string& message) {
    const std::string name =
        format < 0 ? std::string() : imagelib::FreeImage_GetFormatFromFIF(format);
    return name + " error: " + message;
}

std::string DestinationFor(const std::string& sourcePath, bool sameFormat, int outputFormat,
                           const BatchOptions& options) {
    if (options.SaveInOriginalFolder) {
        return sameFormat ? sourcePath : WithExtension(sourcePath, OutputExtension(outputFormat));
    }
    const std::string name = FileNameOf(sourcePath);
    return JoinPath(options.OutputPath,
                    sameFormat ? name : WithExtension(name, OutputExtension(outputFormat)));
}

}  // namespace pimo::batch
