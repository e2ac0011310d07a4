#include "app/mainwindow.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Troopbook"));
    QApplication::setApplicationVersion(QStringLiteral(TROOPBOOK_VERSION));
    app::MainWindow window;
    if (const QScreen *screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    return application.exec();
}
