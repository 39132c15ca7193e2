// Writing the result stream to a file.

#include "engine/engine.h"
#include "engine/imagelib/file_io.h"

namespace pimo::engine {

bool Engine::WriteResultToFile(const std::string& path, bool showErrors) {
    if (ResultStale) OptimizeImage("");
    if (!ResultStream) return false;
    const std::vector<std::uint8_t> bytes = imagelib::StreamBytes(ResultStream.get());
    const std::string error = imagelib::WriteFileReplacing(path, bytes);
    if (!error.empty() && showErrors) ask(MessageKind::Error, error, MessageButtons::Ok);
    return error.empty();
}

}  // namespace pimo::engine
