#pragma once
// What the main window takes from its surroundings, and the system's own
// services for whatever a caller leaves out.

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "engine/compress_to_size.h"
#include "platform/http_download.h"
#include "platform/known_folders.h"
#include "ui/batch_window.h"

namespace pimo::ui {

/// What the main window takes from its surroundings: where its settings
/// files are, how it reaches the web and opens addresses, and the clock. The
/// program leaves every member empty (the system's own); tests fill them in.
struct WindowEnvironment {
    std::shared_ptr<const platform::KnownFolders> folders;
    /// Fetches the latest-version answer; the token ends it when the window goes.
    std::function<platform::FetchedText(const std::string& url, std::stop_token stop)> fetchText;
    std::function<void(const std::string& url)> openUrl;
    /// Now, as days since 30 December 1899 in local time.
    std::function<double()> now;
    /// The save dialog: a caption, the path it starts from and the filter;
    /// the chosen path, empty when cancelled.
    std::function<QString(const QString& caption, const QString& path, const QString& filter)>
        askSaveFileName;
    BatchDialogs batchDialogs;
    /// A one-line question: caption, prompt and initial text; nothing when cancelled.
    engine::TextQuery askText;
    /// The product's web site; unset: the build's. Empty hides the update
    /// check and the web links.
    std::optional<std::string> webSite;
};

/// `environment` with every empty member filled with the system's own service.
WindowEnvironment CompletedEnvironment(WindowEnvironment environment);

}  // namespace pimo::ui
