#include "engine/imagelib/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace pimo::imagelib {

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = PathFromUtf8(path);
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    // Read in blocks sized from the file, not byte by byte; the loop still
    // takes whatever the file holds if it grew or shrank meanwhile.
    const auto expected = std::filesystem::file_size(file, error);
    std::vector<std::uint8_t> bytes(error ? 0 : static_cast<std::size_t>(expected) + 1);
    std::size_t filled = 0;
    while (true) {
        if (filled == bytes.size()) bytes.resize(std::max<std::size_t>(bytes.size() * 2, 65536));
        in.read(reinterpret_cast<char*>(bytes.data() + filled),
                static_cast<std::streamsize>(bytes.size() - filled));
        filled += static_cast<std::size_t>(in.gcount());
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    bytes.resize(filled);
    return bytes;
}

std::string WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::filesystem::path target = PathFromUtf8(path);
    std::filesystem::path temporary = target;
    temporary += ".pimo-write";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return std::string("Cannot create ") + path + ": " + std::strerror(errno);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return std::string("Cannot write ") + path + ": " + std::strerror(errno);
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return error.message();
    }
    return {};
}

namespace {
std::uint32_t BigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

std::size_t PngLengthInBuffer(const std::uint8_t* data, std::size_t limit) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!data || limit < 8 || std::memcmp(data, kSignature, 8) != 0) return 0;
    std::size_t position = 8;
    while (limit - position >= 12) {
        const std::uint64_t length = BigEndian32(data + position);
        const bool isEnd = std::memcmp(data + position + 4, "IEND", 4) == 0;
        const std::uint64_t chunk = 12 + length;
        if (chunk > limit - position) return 0;
        position += static_cast<std::size_t>(chunk);
        if (isEnd) return position;
    }
    return 0;
}

// ---- ByteReader ----

ByteReader::ByteReader(std::span<const std::uint8_t> bytes, std::function<void(int)> progress)
    : m_bytes(bytes), m_progress(std::move(progress)) {}

FreeImageIO ByteReader::Io() {
    return FreeImageIO{&Read, nullptr, &Seek, &Tell};
}

unsigned ByteReader::Read(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    auto* self = static_cast<ByteReader*>(handle);
    if (size == 0 || count == 0) return 0;
    const std::size_t available = self->m_bytes.size() - self->m_position;
    // Whole items only, and never more bytes than the caller's size x count.
    const std::size_t items = std::min<std::size_t>(count, available / size);
    if (items == 0) {
        self->noteReadAtEnd();
        return 0;
    }
    self->m_readsAtEnd = 0;
    // Some decoders read byte by byte, millions of times: a single byte is
    // copied without the call to memcpy.
    if (items * size == 1) {
        *static_cast<std::uint8_t*>(buffer) = self->m_bytes[self->m_position];
    } else {
        std::memcpy(buffer, self->m_bytes.data() + self->m_position, items * size);
    }
    self->m_position += items * size;
    self->reportProgress();
    return static_cast<unsigned>(items);
}

void ByteReader::noteReadAtEnd() {
    // Some of the library's decoders (XBM 3.18) ignore a read that returns
    // nothing and read again forever. The library's decoders catch a thrown
    // text as their own failure; the load path catches it when one does not.
    if (++m_readsAtEnd > kMaxReadsAtEnd) throw kEndOfDataText;
}

void ByteReader::reportProgress() {
    // Report only when the next whole percent is reached.
    const std::size_t total = m_bytes.size();
    if (!m_progress || total == 0 || m_position < m_nextReport) return;
    const int value = static_cast<int>(m_position * 10000 / total);
    m_progress(value);
    m_nextReport = (static_cast<std::size_t>(value / 100) + 1) * total / 100 + 1;
}

int ByteReader::Seek(fi_handle handle, long offset, int origin) {
    auto* self = static_cast<ByteReader*>(handle);
    long long base = 0;
    if (origin == SEEK_CUR) base = static_cast<long long>(self->m_position);
    if (origin == SEEK_END) base = static_cast<long long>(self->m_bytes.size());
    const long long target = base + offset;
    if (target < 0 || target > static_cast<long long>(self->m_bytes.size())) return -1;
    self->m_position = static_cast<std::size_t>(target);
    self->m_readsAtEnd = 0;
    return 0;
}

long ByteReader::Tell(fi_handle handle) {
    return static_cast<long>(static_cast<ByteReader*>(handle)->m_position);
}

// ---- FileReader ----

FileReader::FileReader(const std::string& path) {
#ifdef _WIN32
    m_file = _wfopen(PathFromUtf8(path).c_str(), L"rb");
#else
    m_file = std::fopen(path.c_str(), "rb");
#endif
}

FileReader::~FileReader() {
    if (m_file) std::fclose(m_file);
}

FreeImageIO FileReader::Io() {
    return FreeImageIO{&Read, nullptr, &Seek, &Tell};
}

unsigned FileReader::Read(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(
        std::fread(buffer, size, count, static_cast<FileReader*>(handle)->m_file));
}

int FileReader::Seek(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<FileReader*>(handle)->m_file, offset, origin);
}

long FileReader::Tell(fi_handle handle) {
    return std::ftell(static_cast<FileReader*>(handle)->m_file);
}

}  // namespace pimo::imagelib
