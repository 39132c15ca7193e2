// Downloads and short text answers through libcurl, loaded on first use.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/curl_library.h"
#include "platform/http_download.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

/// A download larger than this is refused: no tool comes near it.
constexpr curl_off_t kMaxDownloadBytes = 512LL * 1024 * 1024;

struct CurlDeleter {
    const CurlLibrary* library;
    void operator()(CURL* handle) const { library->easyCleanup(handle); }
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

template <typename Function>
bool Take(void* library, const char* symbol, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, symbol));
    return function != nullptr;
}

}  // namespace

bool OpenCurlLibrary(const char* name, CurlLibrary& library, std::string& error) {
    void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = std::string("Downloads need the curl library (") + name +
                "), which could not be loaded: install libcurl.";
        return false;
    }
    CurlLibrary taken;
    if (!Take(handle, "curl_global_init", taken.globalInit) ||
        !Take(handle, "curl_easy_init", taken.easyInit) ||
        !Take(handle, "curl_easy_cleanup", taken.easyCleanup) ||
        !Take(handle, "curl_easy_setopt", taken.easySetopt) ||
        !Take(handle, "curl_easy_perform", taken.easyPerform) ||
        !Take(handle, "curl_easy_strerror", taken.easyStrerror)) {
        ::dlclose(handle);
        error = std::string("Downloads need the curl library (") + name +
                "), but the one installed lacks what they call: update libcurl.";
        return false;
    }
    library = taken;
    return true;
}

const CurlLibrary* SharedCurlLibrary(std::string& error) {
    static std::once_flag once;
    static CurlLibrary library;
    static std::string loadError;
    static bool loaded = false;
    std::call_once(once, [] {
        loaded = OpenCurlLibrary(kCurlLibraryName, library, loadError);
        if (loaded) library.globalInit(CURL_GLOBAL_DEFAULT);
    });
    if (!loaded) error = loadError;
    return loaded ? &library : nullptr;
}

namespace {

/// The transfer itself into the open `sink`; empty on success, else why not.
std::string Transfer(const std::string& url, Sink& sink, std::chrono::seconds timeout) {
    std::string loadError;
    const CurlLibrary* library = SharedCurlLibrary(loadError);
    if (!library) return loadError;
    const auto set = library->easySetopt;
    const std::unique_ptr<CURL, CurlDeleter> handle(library->easyInit(), CurlDeleter{library});
    if (!handle) return "The download could not be prepared.";
    CURL* curl = handle.get();
    char reason[CURL_ERROR_SIZE] = {};
    set(curl, CURLOPT_ERRORBUFFER, reason);
    set(curl, CURLOPT_URL, url.c_str());
    // Plain web addresses only, also after a redirect: no file://, no others.
    set(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(curl, CURLOPT_FOLLOWLOCATION, 1L);
    set(curl, CURLOPT_MAXREDIRS, 10L);
    // An answer of 400 or more is a failure, not a file.
    set(curl, CURLOPT_FAILONERROR, 1L);
    set(curl, CURLOPT_NOSIGNAL, 1L);
    set(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    set(curl, CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    // A connection that stalls for a minute is given up.
    set(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    set(curl, CURLOPT_MAXFILESIZE_LARGE, sink.limit);
    set(curl, CURLOPT_USERAGENT, "Pimo");
    set(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    set(curl, CURLOPT_WRITEDATA, &sink);
    if (sink.stop.stop_possible()) {
        set(curl, CURLOPT_NOPROGRESS, 0L);
        set(curl, CURLOPT_XFERINFOFUNCTION, CheckStop);
        set(curl, CURLOPT_XFERINFODATA, &sink);
    }

    const CURLcode code = library->easyPerform(curl);
    if (sink.tooLarge) return "The download is too large.";
    if (code != CURLE_OK) return reason[0] != '\0' ? reason : library->easyStrerror(code);
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
