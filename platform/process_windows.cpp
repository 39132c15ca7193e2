// Processes on Windows: CreateProcessW with an explicit program path and a
// separate command line, and a bounded wait on the process handle.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <random>

#include "platform/process.h"

namespace pimo::platform {

namespace {

namespace fs = std::filesystem;

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          length);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    const std::u8string text = fs::path(wide).u8string();
    return {text.begin(), text.end()};
}

/// The system's text for an error code.
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

/// The process handle of a started tool; ends the tool when left while it
/// still runs (an exception from the caller's `started`).
class ProcessHandle {
  public:
    explicit ProcessHandle(HANDLE handle) : m_handle(handle) {}
    ~ProcessHandle() {
        if (m_running) terminate();
        ::CloseHandle(m_handle);
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    HANDLE get() const { return m_handle; }
    void ended() { m_running = false; }
    void terminate() {
        ::TerminateProcess(m_handle, 1);
        ::WaitForSingleObject(m_handle, 10000);
        m_running = false;
    }

  private:
    HANDLE m_handle;
    bool m_running = true;
};

}  // namespace

ProcessResult RunProcess(const ProcessRequest& request, std::chrono::milliseconds timeout,
                         const std::function<void()>& started,
                         const std::function<bool()>& keepWaiting) {
    ProcessResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (request.hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info{};
    const std::wstring program = request.program.wstring();
    // CreateProcessW may write into the command line, so it gets its own copy.
    std::wstring commandLine = Widen(request.commandLine);
    commandLine.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        result.error = SystemMessage(::GetLastError());
        return result;
    }
    ::CloseHandle(info.hThread);
    ProcessHandle process(info.hProcess);
    if (started) started();

    // Waits in slices of 20 ms when somebody asks whether to keep waiting,
    // else in one wait up to the time-out.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        long long slice = std::min<long long>(std::max<long long>(left.count(), 0), INFINITE - 1);
        if (keepWaiting) slice = std::min<long long>(slice, 20);
        if (::WaitForSingleObject(process.get(), static_cast<DWORD>(slice)) != WAIT_TIMEOUT) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            process.terminate();
            result.end = ProcessEnd::TimedOut;
            return result;
        }
        if (keepWaiting && !keepWaiting()) {
            process.terminate();
            result.end = ProcessEnd::Stopped;
            return result;
        }
    }
    process.ended();
    DWORD code = 1;
    result.end = ProcessEnd::Exited;
    result.exitCode = ::GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : 1;
    return result;
}

fs::path CreatePrivateFolder(const fs::path& parent, std::string_view prefix, std::string& error) {
    // The user's temporary folder grants access to the user alone, and a new
    // folder inherits that; CreateDirectoryW fails on any existing name, so
    // nothing planted there is reused.
    std::random_device random;
    std::uniform_int_distribution<unsigned> digit(0, 35);
    DWORD lastError = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < 100 && lastError == ERROR_ALREADY_EXISTS; ++attempt) {
        std::wstring name = Widen(prefix);
        for (int i = 0; i < 10; ++i)
            name.push_back(L"0123456789abcdefghijklmnopqrstuvwxyz"[digit(random)]);
        const fs::path folder = parent / name;
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        lastError = ::GetLastError();
    }
    error = SystemMessage(lastError);
    return {};
}

fs::path SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length > MAX_PATH) return {};
    return fs::path(std::wstring(buffer, length));
}

std::optional<fs::path> FindProgramOnPath(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos) return std::nullopt;
    while (!searchPath.empty()) {
        const std::size_t semicolon = searchPath.find(';');
        const std::string_view folder = searchPath.substr(0, semicolon);
        searchPath = semicolon == std::string_view::npos ? std::string_view{}
                                                         : searchPath.substr(semicolon + 1);
        if (folder.empty()) continue;
        const fs::path candidate = fs::path(Widen(folder)) / fs::path(Widen(name));
        std::error_code ignored;
        if (fs::is_regular_file(candidate, ignored)) return candidate;
    }
    return std::nullopt;
}

std::string ProcessSearchPath() {
    const wchar_t* value = ::_wgetenv(L"PATH");
    return value == nullptr ? std::string() : Narrow(value);
}

}  // namespace pimo::platform
