#include "engine/imagelib/jpeg_stream_check.h"

#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace pimo::imagelib {

namespace {

// The decoder reports a fatal error by calling error_exit, which must not
// return: it jumps back to the check with the message kept here. Warnings
// (corrupt data, a premature end) only keep the first message.
struct ErrorManager {
    jpeg_error_mgr base{};
    std::jmp_buf jump{};
    char error[JMSG_LENGTH_MAX] = {};
    char warning[JMSG_LENGTH_MAX] = {};
};

ErrorManager& Manager(j_common_ptr info) {
    return *reinterpret_cast<ErrorManager*>(info->err);
}

[[noreturn]] void ExitWithError(j_common_ptr info) {
    info->err->format_message(info, Manager(info).error);
    std::longjmp(Manager(info).jump, 1);
}

void KeepFirstWarning(j_common_ptr info, int level) {
    if (level >= 0 || Manager(info).warning[0] != '\0') return;
    info->err->format_message(info, Manager(info).warning);
}

// Runs the decoder over the stream; false (with the message in `errors`)
// when it gave up. Kept free of objects with destructors because of the jump.
bool ReadCoefficients(jpeg_decompress_struct& info, ErrorManager& errors,
                      std::span<const std::uint8_t> bytes) {
    if (setjmp(errors.jump) != 0) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_read_coefficients(&info);
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

std::string CheckJpegStream(std::span<const std::uint8_t> bytes, unsigned width, unsigned height) {
    if (bytes.empty()) return "The file is empty.";
    ErrorManager errors;
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ExitWithError;
    errors.base.emit_message = KeepFirstWarning;

    const bool read = ReadCoefficients(info, errors, bytes);
    const unsigned declaredWidth = info.image_width, declaredHeight = info.image_height;
    jpeg_destroy_decompress(&info);

    if (!read) return std::string("The decoder stopped: ") + errors.error;
    if (errors.warning[0] != '\0') return std::string("The decoder warned: ") + errors.warning;
    if (declaredWidth != width || declaredHeight != height) return "The image has another size.";
    return {};
}

}  // namespace pimo::imagelib
