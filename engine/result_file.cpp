// Writing the result stream to a file.

#include "engine/engine.h"
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

bool Engine::WriteResultToFile(const std::string& path, bool showErrors) {
    // Not while a long call runs: the result it is making is not the one to write.
    if (Busy()) return false;
    // A stale result is made again first; interactively it is also shown, so
    // that the size on screen is the size written.
    if (ResultStale) {
        if (Interactive) {
            PreviewImage();
        } else if (OptimizeImage("") != 0) {
            ResultStale = false;
        }
    }
    const bool written = WriteResultStream(path, showErrors);
    NotifyStateChanged();  // a stale result was made again
    return written;
}

bool Engine::WriteResultStream(const std::string& path, bool showErrors) {
    if (!ResultStream) return false;
    const std::vector<std::uint8_t> bytes = imagelib::StreamBytes(ResultStream.get());
    const std::string error = imagelib::WriteFileReplacing(path, bytes);
    if (!error.empty() && showErrors) ask(MessageKind::Error, error, MessageButtons::Ok);
    return error.empty();
}

}  // namespace pimo::engine
