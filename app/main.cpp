#include "app/companions.h"
#include "app/mainwindow.h"
#include "app/memberscommandline.h"
#include "app/picturecommandline.h"
#include "app/squadfile.h"
#include "app/terminaltext.h"
#include "app/uploadcommandline.h"
#include "base/wording.h"
#include "picture/picturecheck.h"
#include "publish/publishedcheck.h"
#include "publish/webfetcher.h"
#include "squad/squadcheck.h"
#include "ui/geometry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

struct Options {
    QCommandLineOption check{
        QStringLiteral("check"),
        QStringLiteral("Read <file>, and each further file named, without opening a window "
                       "and print for each how many members it holds and then what the squad "
                       "check finds, one finding a line. Exit 0 when nothing is a problem (hints "
                       "allowed), 2 when something is (a file cut short or holding characters "
                       "that cannot be read is one), 1 when a file cannot be read; of several "
                       "files the worst counts, 1 before 2."),
        QStringLiteral("file")};
    QCommandLineOption checkPublished{
        QStringLiteral("check-published"),
        QStringLiteral("Fetch the squad file at <url> as a game would, with its picture, "
                       "squad.dtd and squad.xsl, compare it with [file] if one is given, and print "
                       "each file fetched and each finding on a line. <url> is the squad file's "
                       "own address, not the squad's web page. Exit 0 when there is no problem "
                       "(hints allowed), 2 when there is one, 1 when nothing could be fetched, "
                       "<url> is no such address, or [file] cannot be read or is not the only "
                       "one."),
        QStringLiteral("url")};
    QCommandLineOption exportCsv{
        QStringLiteral("export-csv"),
        QStringLiteral(
            "Write the members of <squadfile> as CSV (UTF-8, a header row) to [out.csv], "
            "or to standard output without it. Exit 0, or 1 with the reason."),
        QStringLiteral("squadfile")};
    QCommandLineOption importMembers{
        QStringLiteral("import-members"),
        QStringLiteral("Add the members of [from] (a squad file, or a CSV file with a header row "
                       "naming id, nick, name, email, icq, remark) to <squadfile>, which is "
                       "replaced as a whole or not at all, and print how many were added, "
                       "replaced and skipped. A member whose ID is already in the squad is "
                       "skipped, or with --replace replaces it. Exit 0, or 1 with the reason."),
        QStringLiteral("squadfile")};
    QCommandLineOption replace{QStringLiteral("replace"),
                               QStringLiteral("With --import-members: members whose ID is "
                                              "already in the squad replace those members.")};
    QCommandLineOption writeCompanions{
        QStringLiteral("write-companions"),
        QStringLiteral("Write squad.dtd and squad.xsl, made for the squad files Troopbook saves, "
                       "into the folder <dir> without opening a window. Exit 0 when both were "
                       "written, 1 with the reason when not; files already there are kept "
                       "unless --force is given."),
        QStringLiteral("dir")};
    QCommandLineOption force{QStringLiteral("force"),
                             QStringLiteral("With --write-companions: replace squad.dtd and "
                                            "squad.xsl where they exist.")};
    QCommandLineOption makePicture{
        QStringLiteral("make-picture"),
        QStringLiteral("Make the squad picture <out.paa> from <image> (PNG, JPEG, BMP, GIF, WebP, "
                       "TIFF, …) without opening a window: scaled to fit a square, DXT1 or DXT5 "
                       "with mipmaps. Exit 0 when it is written, 1 when not."),
        QStringLiteral("image")};
    QCommandLineOption pictureSize{
        QStringLiteral("picture-size"),
        QStringLiteral("The side of the square --make-picture makes: 16, 32, 64, 128, 256 "
                       "(the default), 512, 1024 or 2048 pixels."),
        QStringLiteral("n")};
    QCommandLineOption exportPicture{
        QStringLiteral("export-picture"),
        QStringLiteral("Write the picture of the PAA file <paa> as the PNG file <out.png> without "
                       "opening a window. Exit 0 when it is written, 1 when not."),
        QStringLiteral("paa")};
};

void describe(QCommandLineParser &parser, const Options &options) {
    parser.setApplicationDescription(
        QStringLiteral("Editor for squad.xml squad definition files."));
    // Qt's own options are single-dash words such as -platform.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.check);
    parser.addOption(options.checkPublished);
    parser.addOption(options.exportCsv);
    parser.addOption(options.importMembers);
    parser.addOption(options.replace);
    parser.addOption(options.writeCompanions);
    parser.addOption(options.force);
    parser.addOption(options.makePicture);
    parser.addOption(options.pictureSize);
    parser.addOption(options.exportPicture);
    app::addUploadOptions(parser);
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The squad file to open."),
                                 QStringLiteral("[file]"));
}

// Help, version, --check and a mistyped option print and end without a window, so they must
// work where no display can be reached. Qt's own window options still go to QApplication.
std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    const bool parsed = parser.parse(arguments);
    static const QStringList qtWindowOptions{"platform",
                                             "platformpluginpath",
                                             "platformtheme",
                                             "plugin",
                                             "qwindowgeometry",
                                             "qwindowicon",
                                             "qwindowtitle",
                                             "reverse",
                                             "session",
                                             "style",
                                             "stylesheet",
                                             "widgetcount",
                                             "display",
                                             "geometry",
                                             "name",
                                             "title",
                                             "visual",
                                             "dialogs",
                                             "fontengine",
                                             "nograb",
                                             "dograb",
                                             "sync",
                                             "qmljsdebugger"};
    const QStringList unknown = parser.unknownOptionNames();
    const bool onlyQtOptions = std::all_of(unknown.begin(), unknown.end(), [](const QString &o) {
        return qtWindowOptions.contains(o);
    });
    if ((!parsed && !onlyQtOptions) || parser.isSet(options.check) ||
        parser.isSet(options.checkPublished) || parser.isSet(options.writeCompanions) ||
        parser.isSet(options.force) || parser.isSet(options.makePicture) ||
        parser.isSet(options.pictureSize) || parser.isSet(options.exportPicture) ||
        app::isUploadCommand(parser) || parser.isSet(options.exportCsv) ||
        parser.isSet(options.importMembers) || parser.isSet(options.replace) ||
        parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
        parser.isSet(QStringLiteral("version")))
        return std::make_unique<QCoreApplication>(argc, argv);
    return std::make_unique<QApplication>(argc, argv);
}

// One file's block: its member count, then its findings. Returns the file's exit status.
int checkFile(const QString &path) {
    app::SquadFileRead read = app::readSquadFile(path, {}, app::FileAccess::Map);
    if (!read.ok) {
        app::printLine(stderr, read.error);
        return 1;
    }
    const int members = read.data.mmbdata.memberCount();
    app::printLine(
        stdout, QString(path + QStringLiteral(": ") + base::countOf(members, "member", "members")));
    squad::SquadDocument document;
    document.load(std::move(read.data));
    squad::SquadChecker checker(document);
    checker.setPictureInspector(&picture::paaInspector());
    checker.setFilePath(QFileInfo(path).absoluteFilePath());
    // Each finding is printed as it is made: a squad of millions of members that all draw one
    // never holds them all at once.
    const auto print = [&](const squad::Finding &f) {
        app::printLine(stdout, app::findingLine(path, f, document.content()));
    };
    const QList<squad::Finding> fileProblems = app::fileFindings(read);
    for (const squad::Finding &f : fileProblems)
        print(f);
    for (const squad::Finding &f : checker.squadFindings())
        print(f);
    for (int m = 0; m < members; ++m) {
        for (int i = 0, count = checker.memberFindingCount(m); i < count; ++i)
            print(checker.memberFinding(m, i));
    }
    return !fileProblems.isEmpty() || checker.problemCount() > 0 ? 2 : 0;
}

// Exit 1 (a file could not be read) outweighs 2 (a file has a problem), which outweighs 0.
int worseStatus(int a, int b) {
    const auto weight = [](int status) {
        return status == 1 ? 2 : status == 2 ? 1 : 0;
    };
    return weight(a) >= weight(b) ? a : b;
}

int check(const QStringList &paths) {
    int status = 0;
    for (const QString &path : paths)
        status = worseStatus(status, checkFile(path));
    return status;
}

int checkPublished(const QString &address, const QStringList &files) {
    QString error;
    const std::optional<QUrl> url = publish::parseAddress(address, &error);
    if (!url) {
        app::printLine(stderr, error);
        return 1;
    }
    if (files.size() > 1) {
        app::printLine(stderr, u"troopbook: --check-published compares with one file only");
        return 1;
    }
    publish::CheckRequest request{*url, std::nullopt, QString(), false, &picture::paaInspector()};
    if (!files.isEmpty()) {
        const app::SquadFileRead read = app::readSquadFile(files.first());
        if (!read.ok) {
            app::printLine(stderr, read.error);
            return 1;
        }
        request.local = read.data;
        request.localName = files.first();
    }
    publish::WebFetcher fetcher;
    const publish::CheckReport report = publish::checkPublished(request, fetcher);
    const QString shown = url->toDisplayString();
    for (const publish::FetchedFile &file : report.files)
        app::printLine(stdout, file.line());
    for (const squad::Finding &finding : report.findings) {
        app::printLine(stdout, QStringLiteral("%1: %2: %3")
                                   .arg(shown,
                                        finding.kind == squad::Finding::Kind::Problem
                                            ? QStringLiteral("problem")
                                            : QStringLiteral("hint"),
                                        finding.message));
    }
    if (!report.anythingFetched)
        return 1;
    return squad::hasProblem(report.findings) ? 2 : 0;
}

int writeCompanions(const QString &folder, bool force, const QStringList &files) {
    const auto fail = [](const QString &message) {
        app::printLine(stderr, QString(u"troopbook: " + message));
        return 1;
    };
    if (!files.isEmpty())
        return fail(QStringLiteral("--write-companions takes a folder and no file"));
    if (!QFileInfo(folder).isDir())
        return fail(QStringLiteral("\"%1\" is no folder").arg(folder));
    const QStringList existing = app::existingCompanions(folder);
    if (!existing.isEmpty() && !force)
        return fail(
            QStringLiteral("%1 already %2 in \"%3\"; --force replaces %4")
                .arg(existing.join(QStringLiteral(" and ")),
                     existing.size() == 1 ? QStringLiteral("exists") : QStringLiteral("exist"),
                     folder, existing.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
    int status = 0;
    for (const app::CompanionWritten &written : app::writeCompanions(folder)) {
        if (written.failure.isEmpty())
            app::printLine(stdout, QDir(folder).filePath(written.name));
        else
            status = fail(written.failure);
    }
    return status;
}

} // namespace

int main(int argc, char *argv[]) {
    // Writing to a connection the server has hung up on must fail, not end the program: TLS
    // writes and libssh's do not all pass MSG_NOSIGNAL.
    std::signal(SIGPIPE, SIG_IGN);
    const std::unique_ptr<QCoreApplication> application = createApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Troopbook"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TROOPBOOK_VERSION));

    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    // A mistyped option is echoed back, and it may be a file name full of control characters.
    if (!parser.parse(QCoreApplication::arguments())) {
        app::printLine(stderr,
                       QString(QCoreApplication::applicationName() + u": " + parser.errorText()));
        return 1;
    }
    parser.process(*application);

    if (parser.isSet(options.check))
        return check(parser.values(options.check) + parser.positionalArguments());
    if (parser.isSet(options.checkPublished))
        return checkPublished(parser.value(options.checkPublished), parser.positionalArguments());
    if (parser.isSet(options.force) && !parser.isSet(options.writeCompanions)) {
        app::printLine(stderr, u"troopbook: --force goes with --write-companions only");
        return 1;
    }
    if (parser.isSet(options.writeCompanions))
        return writeCompanions(parser.value(options.writeCompanions), parser.isSet(options.force),
                               parser.positionalArguments());
    if (app::isUploadCommand(parser))
        return app::uploadCommand(parser);
    const QStringList files = parser.positionalArguments();
    if (parser.isSet(options.exportCsv) && files.size() <= 1)
        return app::exportMembersCsv(parser.value(options.exportCsv), files.value(0));
    if (parser.isSet(options.importMembers) && files.size() == 1)
        return app::importMembersInto(parser.value(options.importMembers), files.first(),
                                      parser.isSet(options.replace));
    if (parser.isSet(options.exportCsv) || parser.isSet(options.importMembers) ||
        parser.isSet(options.replace)) {
        app::printLine(stderr, u"troopbook: --export-csv takes SQUADFILE [OUT.csv], "
                               u"--import-members SQUADFILE FROM [--replace]");
        return 1;
    }
    if (parser.isSet(options.makePicture) || parser.isSet(options.exportPicture)) {
        if (parser.isSet(options.makePicture) == parser.isSet(options.exportPicture)) {
            app::printLine(stderr,
                           u"troopbook: --make-picture and --export-picture go one at a time");
            return 1;
        }
        if (files.size() != 1) {
            app::printLine(stderr,
                           u"troopbook: --make-picture and --export-picture take one output file");
            return 1;
        }
        if (parser.isSet(options.exportPicture))
            return app::exportPictureCommand(parser.value(options.exportPicture), files.first());
        return app::makePictureCommand(parser.value(options.makePicture), files.first(),
                                       parser.value(options.pictureSize));
    }
    if (parser.isSet(options.pictureSize)) {
        app::printLine(stderr, u"troopbook: --picture-size goes with --make-picture");
        return 1;
    }
    if (files.size() > 1) {
        app::printLine(stderr, u"troopbook: only one file can be opened");
        return 1;
    }

    QApplication::setDesktopFileName(QStringLiteral("org.troopbook.Troopbook"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.troopbook.Troopbook.svg")));
    app::MainWindow window;
    ui::centerOnScreen(&window);
    window.show();
    if (!files.isEmpty()) {
        // Once the window is up, so that a message about the file stands over it.
        QTimer::singleShot(0, &window,
                           [&window, file = files.first()] { window.openAtStart(file); });
    }
    return application->exec();
}
