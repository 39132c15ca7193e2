// Downloads and short text answers through the system's URL moniker service.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: urlmon needs its types.
#include <urlmon.h>

#include "platform/http_download.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

std::string Narrow(std::wstring_view wide) {
    const std::u8string text = fs::path(wide).u8string();
    return {text.begin(), text.end()};
}

std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : Narrow(text);
}

}  // namespace

// The moniker service has no time-out of its own; it gives up on stalled
// connections by itself.
std::string DownloadToFile(const std::string& url, const fs::path& path, std::chrono::seconds) {
    const std::u8string utf8(url.begin(), url.end());
    const std::wstring address = fs::path(utf8).wstring();
    if (address.rfind(L"http://", 0) != 0 && address.rfind(L"https://", 0) != 0)
        return "Only web addresses can be downloaded.";
    fs::path part = path;
    part += L".download";
    const HRESULT result = ::URLDownloadToFileW(nullptr, address.c_str(), part.c_str(), 0, nullptr);
    if (FAILED(result)) {
        ::DeleteFileW(part.c_str());
        return SystemMessage(static_cast<DWORD>(result));
    }
    if (!::MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const std::string reason = SystemMessage(::GetLastError());
        ::DeleteFileW(part.c_str());
        return reason;
    }
    return {};
}

// The moniker service has no time-out of its own; it gives up on stalled
// connections by itself. A stop is honoured between reads.
FetchedText FetchText(const std::string& url, std::size_t maxBytes, std::chrono::seconds,
                      std::stop_token stop) {
    FetchedText fetched;
    const std::u8string utf8(url.begin(), url.end());
    const std::wstring address = fs::path(utf8).wstring();
    if (address.rfind(L"http://", 0) != 0 && address.rfind(L"https://", 0) != 0) {
        fetched.error = "Only web addresses can be fetched.";
        return fetched;
    }
    IStream* stream = nullptr;
    const HRESULT result = ::URLOpenBlockingStreamW(nullptr, address.c_str(), &stream, 0, nullptr);
    if (FAILED(result) || stream == nullptr) {
        fetched.error = SystemMessage(static_cast<DWORD>(result));
        return fetched;
    }
    char buffer[4096];
    for (;;) {
        ULONG read = 0;
        const HRESULT status = stream->Read(buffer, sizeof buffer, &read);
        fetched.body.append(buffer, read);
        if (fetched.body.size() > maxBytes) {
            fetched.error = "The answer is too large.";
            break;
        }
        if (FAILED(status)) {
            fetched.error = SystemMessage(static_cast<DWORD>(status));
            break;
        }
        if (stop.stop_requested()) {
            fetched.error = "The request was stopped.";
            break;
        }
        if (status == S_FALSE || read == 0) break;
    }
    stream->Release();
    if (!fetched.error.empty()) fetched.body.clear();
    return fetched;
}

}  // namespace pimo::platform
