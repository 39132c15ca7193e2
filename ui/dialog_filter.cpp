#include "ui/dialog_filter.h"

#include <QStringList>

namespace pimo::ui {

QString DialogFilter(std::string_view pairs) {
    const QStringList parts =
        QString::fromUtf8(pairs.data(), static_cast<qsizetype>(pairs.size())).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        if (patterns.isEmpty()) continue;
        entries << parts[i] + " (" + patterns.join(' ') + ")";
    }
    return entries.join(";;");
}

}  // namespace pimo::ui
