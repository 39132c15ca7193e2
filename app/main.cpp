// Process entry of the desktop application.

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <exception>

#include "ui/main_window.h"
#include "util/pimoutil.h"

namespace {

// The desktop entry's and the icon's name, as installed.
constexpr const char* kApplicationId = "org.example.pimo";

// The icon the window manager shows: the installed theme's, else the copy
// compiled in, so that a program run from its build tree has it too.
QIcon ApplicationIcon() {
    QIcon compiledIn;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        compiledIn.addFile(QString(":/icons/%1x%1/apps/%2.png").arg(size).arg(kApplicationId),
                           QSize(size, size));
    return QIcon::fromTheme(kApplicationId, compiledIn);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("PIMO");
    // Wayland compositors find the window's desktop entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName(kApplicationId);
    QApplication::setWindowIcon(ApplicationIcon());
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
