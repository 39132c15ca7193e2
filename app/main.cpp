// Process entry of the desktop application.

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <exception>

#include "ui/main_window.h"
#include "util/pimoutil.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("PIMO");
    const QLocale locale;
    pimo::util::SetNumberSeparators(
        {locale.groupSeparator().toStdString(), locale.decimalPoint().toStdString()});
    try {
        QStringList arguments = QApplication::arguments();
        arguments.removeFirst();
        pimo::ui::TForm1 window(arguments);
        window.show();
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, "PIMO", QString::fromUtf8(error.what()));
        return 1;
    }
}
