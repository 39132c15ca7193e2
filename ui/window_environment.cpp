#include "ui/window_environment.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QUrl>

#include "engine/open_filter.h"
#include "platform/local_time.h"
#include "ui/dialog_filter.h"
#include "ui/message_box.h"
#include "update/update_check.h"
#include "util/product.h"

namespace pimo::ui {

// The system's own services for what the caller left empty.
WindowEnvironment CompletedEnvironment(WindowEnvironment environment) {
    if (!environment.folders)
        environment.folders = std::make_shared<platform::SystemKnownFolders>();
    if (!environment.fetchText) {
        environment.fetchText = [](const std::string& url, std::stop_token stop) {
            return update::PlatformTextFetcher(std::move(stop))(url);
        };
    }
    if (!environment.openUrl) {
        environment.openUrl = [](const std::string& url) {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
        };
    }
    if (!environment.now) environment.now = [] { return platform::LocalDateTimeNow(); };
    if (!environment.webSite) environment.webSite = std::string(kProductWebSite);
    if (!environment.batchDialogs.askFolder) {
        environment.batchDialogs.askFolder = [](const QString& caption, const QString& start) {
            return QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, start);
        };
    }
    if (!environment.batchDialogs.askImageFiles) {
        environment.batchDialogs.askImageFiles = [] {
            return QFileDialog::getOpenFileNames(QApplication::activeWindow(),
                                                 QObject::tr("Add images"), QString(),
                                                 DialogFilter(engine::BuildOpenFilter().filter));
        };
    }
    if (!environment.askText) {
        environment.askText = [](const std::string& caption, const std::string& prompt,
                                 const std::string& initial) -> std::optional<std::string> {
            bool confirmed = false;
            const QString text =
                QInputDialog::getText(QApplication::activeWindow(), Qs(caption), Qs(prompt),
                                      QLineEdit::Normal, Qs(initial), &confirmed);
            if (!confirmed) return std::nullopt;
            return text.toStdString();
        };
    }
    if (!environment.askSaveFileName) {
        environment.askSaveFileName = [](const QString& caption, const QString& path,
                                         const QString& filter) {
            return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, path,
                                                filter);
        };
    }
    return environment;
}

}  // namespace pimo::ui
