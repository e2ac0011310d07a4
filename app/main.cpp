#include "app/mainwindow.h"
#include "app/squadfile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Help, version and --check print and end without a window, so they must also work where no
// display can be reached.
std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            break;
        if (arg == "--check" || arg.startsWith("--check=") || arg == "-h" || arg == "--help" ||
            arg == "--help-all" || arg == "-v" || arg == "--version")
            return std::make_unique<QCoreApplication>(argc, argv);
    }
    return std::make_unique<QApplication>(argc, argv);
}

int check(const QString &path) {
    const app::SquadFileRead read = app::readSquadFile(path);
    if (!read.ok) {
        std::fputs(qPrintable(read.error + u'\n'), stderr);
        return 1;
    }
    std::fputs(
        qPrintable(
            QStringLiteral("%1: %2 members\n").arg(path).arg(read.data.mmbdata.memberCount())),
        stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    const std::unique_ptr<QCoreApplication> application = createApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Troopbook"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TROOPBOOK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Editor for squad.xml squad definition files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("Read <file> without opening a window, print how many members it holds "
                       "and exit 0; print why it cannot be read and exit 1."),
        QStringLiteral("file"));
    parser.addOption(checkOption);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The squad file to open."),
                                 QStringLiteral("[file]"));
    parser.process(*application);

    if (parser.isSet(checkOption))
        return check(parser.value(checkOption));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fputs("troopbook: only one file can be opened\n", stderr);
        return 1;
    }

    app::MainWindow window;
    if (const QScreen *screen = window.screen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    if (!files.isEmpty()) {
        // Once the window is up, so that a message about the file stands over it.
        QTimer::singleShot(0, &window,
                           [&window, file = files.first()] { window.openAtStart(file); });
    }
    return application->exec();
}
