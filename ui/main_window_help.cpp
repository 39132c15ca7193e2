// The main window's help: the documentation, the product's site, the update
// check and the about box.

#include <QFileInfo>
#include <QMenuBar>
#include <QUrl>

#include "settings/settings_keys.h"
#include "settings/settings_store.h"
#include "ui/about_box.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "util/product.h"
#include "util/third_party_notices.h"

namespace pimo::ui {

// Without a web site the help is the documentation installed with the
// program, and the site's links and the update check are not offered.
void TForm1::buildHelpMenu() {
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    if (m_environment.webSite->empty()) {
        QAction* documentation =
            help->addAction(tr("&Documentation"), this, &TForm1::openInstalledDocumentation);
        documentation->setObjectName("Help2");
    } else {
        QAction* documentation =
            help->addAction(tr("Online &documentation"), this, [this] { openWebPage("/docs"); });
        documentation->setObjectName("Help2");
        QAction* site =
            help->addAction(tr("Visit official &website"), this, [this] { openWebPage(""); });
        site->setObjectName("Visitofficialwebsite1");
        QAction* news = help->addAction(tr("&News"), this, [this] { openWebPage("/feed/"); });
        news->setObjectName("News1");
        help->addSeparator();
        QAction* check = help->addAction(tr("Check for &updates"), this,
                                         [this] { Checkforupdates1Click(true); });
        check->setObjectName("Checkforupdates1");
    }
    help->addSeparator();
    QAction* about = help->addAction(tr("&About..."), this, &TForm1::showAboutBox);
    about->setObjectName("About1");
}

void TForm1::showAboutBox() {
    TAboutBox box({Qs(std::string(kProductName)), Qs(std::string(kProductVersion)),
                   Qs(engine::LibraryVersionText())},
                  Qs(std::string(pimo::ThirdPartyNotices())), this);
    box.exec();
}

void TForm1::openWebPage(std::string_view path) {
    m_environment.openUrl(*m_environment.webSite + std::string(path));
}

void TForm1::openInstalledDocumentation() {
    for (const std::string_view readme : {kInstalledReadme, kSourceReadme}) {
        const QString path = Qs(std::string(readme));
        if (!QFileInfo::exists(path)) continue;
        m_environment.openUrl(QUrl::fromLocalFile(path).toString().toStdString());
        return;
    }
    showMessage(engine::MessageKind::Error, "The documentation is not installed.",
                engine::MessageButtons::Ok);
}

// The request runs on a thread of its own, so the window stays responsive;
// the outcome is told on the window's thread. The check counts as done when
// it starts, whatever comes of it.
void TForm1::Checkforupdates1Click(bool manual) {
    if (m_environment.webSite->empty()) return;
    update::Check4Updates check{manual};
    check.webSite = *m_environment.webSite;
    m_updateChecks.emplace_back(
        [this, check, fetchText = m_environment.fetchText](std::stop_token stop) {
            const update::UpdateCheckOutcome outcome =
                check.fetchAndCompare([&](const std::string& url) { return fetchText(url, stop); });
            if (stop.stop_requested()) return;
            QMetaObject::invokeMethod(
                this,
                [this, check, outcome] {
                    check.report(*this, outcome, m_environment.openUrl);
                    emit updateCheckReported();
                },
                Qt::QueuedConnection);
        });
    m_engine.options.LastUpdateCheck = m_environment.now();
    if (const settings::SettingsKey* key = settings::FindSettingsKey("LastUpdateCheck");
        key && m_settingsFiles.settings.isOpen()) {
        settings::StoreKey(m_settingsFiles.settings, *key, settingsFields());
    }
}

}  // namespace pimo::ui
