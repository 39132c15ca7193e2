#pragma once
// The check for a newer published version: the request and the comparison,
// which may run on any thread, and the messages, which belong to the
// user-interface thread.

#include <chrono>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "engine/host.h"
#include "platform/http_download.h"
#include "util/product.h"

namespace pimo::update {

/// The program's own version.
inline constexpr std::string_view CurrentVersion = kProductVersion;

/// The path of the latest-version endpoint on the product's web site.
inline constexpr std::string_view kLatestVersionPath = "/_latest-version";
/// The page the user is offered when a newer version exists.
inline constexpr std::string_view kDownloadPagePath = "/download";

inline constexpr std::string_view kNewerVersionQuestion =
    "A newer version of PIMO is available. Do you want to download the latest version ?";
inline constexpr std::string_view kLatestVersionInUse = "You are already using the latest version";
inline constexpr std::string_view kUpdateCheckFailed =
    "There was an error checking for updates. Try again later.";

/// The longest the request may take.
inline constexpr std::chrono::seconds kUpdateCheckTimeout{30};
/// The most of the endpoint's answer that is read.
inline constexpr std::size_t kLatestVersionAnswerLimit = 4096;

/// The automatic check waits at least this many whole days between checks.
inline constexpr int kDaysBetweenAutomaticChecks = 14;

enum class UpdateCheckOutcome { NewerVersion, LatestVersion, Failed };

/// Fetches a web address as text (the platform's client in the program, a
/// canned answer in tests).
using TextFetcher = std::function<platform::FetchedText(const std::string& url)>;
/// Opens a web address in the user's browser.
using UrlOpener = std::function<void(const std::string& url)>;

/// The addresses on the product's site `webSite`.
std::string LatestVersionUrl(std::string_view webSite = kProductWebSite);
std::string DownloadPageUrl(std::string_view webSite = kProductWebSite);

/// Compares the endpoint's answer with `currentVersion`: a failed request or
/// an answer that is no valid version is `Failed`.
UpdateCheckOutcome CompareWithLatestVersion(const platform::FetchedText& answer,
                                            std::string_view currentVersion = CurrentVersion);

/// The platform's client, with the time-out and size limit above; a stop
/// requested through `stop` ends a request early (as a failure).
TextFetcher PlatformTextFetcher(std::stop_token stop = {});

/// One check, started by the menu command (`ManualCheck`) or at start-up.
class Check4Updates {
  public:
    bool ManualCheck = false;
    /// The site asked for the latest version and offered for the download.
    std::string webSite{kProductWebSite};

    /// Asks the endpoint and compares; blocks for the request, so the window
    /// runs it away from its own thread.
    UpdateCheckOutcome fetchAndCompare(const TextFetcher& fetch = PlatformTextFetcher()) const;

    /// Tells the user, on the user-interface thread: a newer version is
    /// offered (Yes opens the download page); the latest version and
    /// failures are told only for a manual check.
    void report(engine::Host& host, UpdateCheckOutcome outcome, const UrlOpener& openUrl) const;
};

/// Whether the automatic check runs at start-up: allowed, and at least 14
/// whole days between `lastCheck` and `now` (dates as the settings keep them,
/// days since 30 December 1899). A last check dated after now (a clock set
/// back) counts by its distance too, so a wrong date cannot stop the checks
/// for good.
bool AutomaticUpdateCheckDue(bool allowed, double lastCheck, double now);

}  // namespace pimo::update
