#pragma once
// Byte-level input and output for the library layer: library IO over bytes in
// memory and over files with UTF-8 paths, whole-file reads, and safe
// replacement of a file.

#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "util/pimoutil.h"

namespace pimo::imagelib {

using util::PathFromUtf8;

/// The whole content of a file, or nothing when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path);

/// Writes `bytes` to a new file beside `path`, then renames it over `path`, so
/// that a failure never leaves a truncated file where a good one stood.
/// Returns an empty text on success, else the reason.
std::string WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes);

/// Length of the PNG that starts at `data`: signature and chunks up to and
/// including IEND, never reading past `limit` bytes. 0 when no complete PNG.
std::size_t PngLengthInBuffer(const std::uint8_t* data, std::size_t limit);

/// Library IO over bytes in memory. Reports read progress (0..10000) as the
/// decoder advances, when given a callback. A read never writes more than the
/// size x count bytes asked for, and only whole items. At the end of the data a
/// read returns 0; once a decoder has asked again kMaxReadsAtEnd times in a
/// row without moving, the read throws kEndOfDataText (a `const char*`, which
/// the library's decoders report as their failure), so that a decoder that
/// loops on a short read ends.
class ByteReader {
  public:
    static constexpr unsigned kMaxReadsAtEnd = 4096;
    static constexpr const char* kEndOfDataText = "the file ends before its image does";

    ByteReader(std::span<const std::uint8_t> bytes, std::function<void(int)> progress);
    static FreeImageIO Io();

  private:
    static unsigned Read(void* buffer, unsigned size, unsigned count, fi_handle handle);
    static int Seek(fi_handle handle, long offset, int origin);
    static long Tell(fi_handle handle);

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    void noteReadAtEnd();
    void reportProgress();

    std::function<void(int)> m_progress;
    std::size_t m_nextReport = 0;
    unsigned m_readsAtEnd = 0;
};

/// Library IO over a file opened for reading by its UTF-8 path.
class FileReader {
  public:
    explicit FileReader(const std::string& path);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    bool isOpen() const { return m_file != nullptr; }
    static FreeImageIO Io();

  private:
    static unsigned Read(void* buffer, unsigned size, unsigned count, fi_handle handle);
    static int Seek(fi_handle handle, long offset, int origin);
    static long Tell(fi_handle handle);

    std::FILE* m_file = nullptr;
};

}  // namespace pimo::imagelib
