#include "update/update_check.h"

#include <cmath>
#include <optional>

#include "update/version_number.h"

namespace pimo::update {

std::string LatestVersionUrl(std::string_view webSite) {
    return std::string(webSite) + std::string(kLatestVersionPath);
}

std::string DownloadPageUrl(std::string_view webSite) {
    return std::string(webSite) + std::string(kDownloadPagePath);
}

UpdateCheckOutcome CompareWithLatestVersion(const platform::FetchedText& answer,
                                            std::string_view currentVersion) {
    if (!answer.error.empty()) return UpdateCheckOutcome::Failed;
    const std::optional<VersionNumber> current = ParseVersionNumber(currentVersion);
    const std::optional<VersionNumber> latest = ParseVersionNumber(answer.body);
    if (!current || !latest) return UpdateCheckOutcome::Failed;
    return IsNewerVersion(*latest, *current) ? UpdateCheckOutcome::NewerVersion
                                             : UpdateCheckOutcome::LatestVersion;
}

TextFetcher PlatformTextFetcher(std::stop_token stop) {
    return [stop](const std::string& url) {
        return platform::FetchText(url, kLatestVersionAnswerLimit, kUpdateCheckTimeout, stop);
    };
}

UpdateCheckOutcome Check4Updates::fetchAndCompare(const TextFetcher& fetch) const {
    return CompareWithLatestVersion(fetch(LatestVersionUrl(webSite)));
}

void Check4Updates::report(engine::Host& host, UpdateCheckOutcome outcome,
                           const UrlOpener& openUrl) const {
    using engine::MessageAnswer;
    using engine::MessageButtons;
    using engine::MessageKind;
    switch (outcome) {
        case UpdateCheckOutcome::NewerVersion:
            if (host.showMessage(MessageKind::Information, std::string(kNewerVersionQuestion),
                                 MessageButtons::YesNo) == MessageAnswer::Yes &&
                openUrl) {
                openUrl(DownloadPageUrl(webSite));
            }
            break;
        case UpdateCheckOutcome::LatestVersion:
            if (ManualCheck) {
                host.showMessage(MessageKind::Information, std::string(kLatestVersionInUse),
                                 MessageButtons::Ok);
            }
            break;
        case UpdateCheckOutcome::Failed:
            if (ManualCheck) {
                host.showMessage(MessageKind::Error, std::string(kUpdateCheckFailed),
                                 MessageButtons::Ok);
            }
            break;
    }
}

bool AutomaticUpdateCheckDue(bool allowed, double lastCheck, double now) {
    if (!allowed) return false;
    // Whole days, as a calendar counts them between the two moments; a tiny
    // allowance keeps 14.0 days stored as 13.9999999 from counting as 13.
    const double days = std::fabs(now - lastCheck);
    return std::floor(days + 1e-9) >= kDaysBetweenAutomaticChecks;
}

}  // namespace pimo::update
