// Downloads and short text answers through libcurl.

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/http_download.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

/// A download larger than this is refused: no tool comes near it.
constexpr curl_off_t kMaxDownloadBytes = 512LL * 1024 * 1024;

struct CurlDeleter {
    void operator()(CURL* handle) const { ::curl_easy_cleanup(handle); }
};

/// Where the body goes while it arrives: a file, or a text in memory.
struct Sink {
    std::FILE* file = nullptr;
    std::string* text = nullptr;
    curl_off_t limit = kMaxDownloadBytes;
    curl_off_t written = 0;
    bool tooLarge = false;
    std::stop_token stop;  // a requested stop ends the transfer
};

// Called by libcurl about once a second and whenever data moves.
int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Sink*>(user)->stop.stop_requested() ? 1 : 0;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    if (sink.written + static_cast<curl_off_t>(bytes) > sink.limit) {
        sink.tooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    std::size_t stored = bytes;
    if (sink.text) {
        sink.text->append(data, bytes);
    } else {
        stored = std::fwrite(data, 1, bytes, sink.file);
    }
    sink.written += static_cast<curl_off_t>(stored);
    return stored;
}

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { ::curl_global_init(CURL_GLOBAL_DEFAULT); });
}

/// The transfer itself into the open `sink`; empty on success, else why not.
std::string Transfer(const std::string& url, Sink& sink, std::chrono::seconds timeout) {
    InitialiseOnce();
    const std::unique_ptr<CURL, CurlDeleter> handle(::curl_easy_init());
    if (!handle) return "The download could not be prepared.";
    CURL* curl = handle.get();
    char reason[CURL_ERROR_SIZE] = {};
    ::curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    ::curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Plain web addresses only, also after a redirect: no file://, no others.
    ::curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    ::curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    ::curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    ::curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // An answer of 400 or more is a failure, not a file.
    ::curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    ::curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    ::curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    ::curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    // A connection that stalls for a minute is given up.
    ::curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    ::curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    ::curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, sink.limit);
    ::curl_easy_setopt(curl, CURLOPT_USERAGENT, "Pimo");
    ::curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    ::curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (sink.stop.stop_possible()) {
        ::curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        ::curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckStop);
        ::curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
    }

    const CURLcode code = ::curl_easy_perform(curl);
    if (sink.tooLarge) return "The download is too large.";
    if (code != CURLE_OK) return reason[0] != '\0' ? reason : ::curl_easy_strerror(code);
    return {};
}

}  // namespace

std::string DownloadToFile(const std::string& url, const fs::path& path,
                           std::chrono::seconds timeout) {
    // A fresh file of our own beside the target; nothing planted there is
    // followed, and the target changes only by the final rename.
    std::string partName = path.string() + ".XXXXXX";
    const int descriptor = ::mkstemp(partName.data());
    if (descriptor < 0) return std::strerror(errno);
    Sink sink;
    sink.file = ::fdopen(descriptor, "wb");
    if (sink.file == nullptr) {
        const std::string reason = std::strerror(errno);
        ::close(descriptor);
        ::unlink(partName.c_str());
        return reason;
    }
    std::string error = Transfer(url, sink, timeout);
    if (std::fclose(sink.file) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && std::rename(partName.c_str(), path.c_str()) != 0)
        error = std::strerror(errno);
    if (!error.empty()) ::unlink(partName.c_str());
    return error;
}

FetchedText FetchText(const std::string& url, std::size_t maxBytes, std::chrono::seconds timeout,
                      std::stop_token stop) {
    FetchedText fetched;
    Sink sink;
    sink.stop = std::move(stop);
    sink.text = &fetched.body;
    sink.limit = static_cast<curl_off_t>(maxBytes);
    fetched.error = Transfer(url, sink, timeout);
    if (sink.tooLarge) fetched.error = "The answer is too large.";
    if (!fetched.error.empty()) fetched.body.clear();
    return fetched;
}

}  // namespace pimo::platform
