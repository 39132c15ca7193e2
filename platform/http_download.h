#pragma once
// Downloading one web address into a file, or a short answer as text.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <stop_token>
#include <string>

namespace pimo::platform {

/// The longest a download may take as a whole.
inline constexpr std::chrono::seconds kDownloadTimeout{600};

/// Downloads `url` (http or https, redirects followed) into the file `path`,
/// blocking until the transfer has ended. The body is written to a new file
/// beside `path`, which replaces `path` only when the server answered with
/// success and the whole body arrived; otherwise that file is removed and an
/// existing `path` stays as it was. The folder of `path` is not created.
/// Returns an empty text on success, else the reason.
std::string DownloadToFile(const std::string& url, const std::filesystem::path& path,
                           std::chrono::seconds timeout = kDownloadTimeout);

/// A short text answer, or why there is none.
struct FetchedText {
    std::string body;
    std::string error;  // empty on success
};

/// Fetches `url` (http or https, redirects followed) as text, blocking until
/// the transfer has ended. An answer with a failure status (400 or more), one
/// longer than `maxBytes`, or one that takes longer than `timeout` is an error;
/// so is a transfer given up early because `stop` was requested.
FetchedText FetchText(const std::string& url, std::size_t maxBytes, std::chrono::seconds timeout,
                      std::stop_token stop = {});

}  // namespace pimo::platform
