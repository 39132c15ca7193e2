#pragma once
// The few entry points of libcurl that the downloads call, taken from the
// runtime library when the first download starts rather than when the
// program starts: linked in, it would bring some twenty-five libraries of
// its own (TLS, Kerberos, LDAP, SSH...) into every run of the program.

#include <curl/curl.h>

#include <string>

namespace pimo::platform {

/// The runtime library's name.
inline constexpr const char* kCurlLibraryName = "libcurl.so.4";

struct CurlLibrary {
    CURLcode (*globalInit)(long flags) = nullptr;
    CURL* (*easyInit)() = nullptr;
    void (*easyCleanup)(CURL* handle) = nullptr;
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...) = nullptr;
    CURLcode (*easyPerform)(CURL* handle) = nullptr;
    const char* (*easyStrerror)(CURLcode code) = nullptr;
};

/// Opens the library `name` and takes its entry points; on failure returns
/// false and sets `error` to a text for the user. The library stays loaded.
bool OpenCurlLibrary(const char* name, CurlLibrary& library, std::string& error);

/// The process's libcurl, opened and initialised once on first use; nullptr
/// with `error` set when it cannot be loaded.
const CurlLibrary* SharedCurlLibrary(std::string& error);

}  // namespace pimo::platform
