#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Troopbook"));
    QApplication::setApplicationVersion(QStringLiteral(TROOPBOOK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.troopbook.Troopbook"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.troopbook.Troopbook.svg")));
    app::MainWindow window;
    window.show();
    return application.exec();
}
