#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Troopbook"));
    QApplication::setApplicationVersion(QStringLiteral(TROOPBOOK_VERSION));
    app::MainWindow window;
    window.show();
    return application.exec();
}
