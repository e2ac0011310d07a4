// The program's command line, run as a separate process.
#include "squad/squadwriter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs troopbook where no display can be reached, as a packaging script would.
Run troopbook(const QStringList &arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TROOPBOOK_BINARY), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void checkCountsTheMembers_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("nicks");
        QTest::addColumn<QString>("count");
        QTest::newRow("three") << "three members.xml" << QStringList{"Ann", "Bea", "Cid"}
                               << "3 members";
        QTest::newRow("one, percent in the name")
            << "100%2 %1.xml" << QStringList{"Ann"} << "1 member";
        QTest::newRow("none") << "empty.xml" << QStringList{} << "0 members";
    }
    void checkCountsTheMembers() {
        QFETCH(QString, name);
        QFETCH(QStringList, nicks);
        QFETCH(QString, count);
        squad::SquadData squad;
        squad.properties[0] = "=NO=";
        for (const QString &nick : nicks)
            squad.mmbdata.append(squad::Member{"", nick, "", "", "", ""});
        const QString file = m_dir.filePath(name);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(squad::fileContents(squad));
        f.close();

        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, (file + ": " + count + "\n").toLocal8Bit());
        QCOMPARE(run.err, QByteArray());
    }

    void checkOfAnUnreadableFileSaysWhyAndFails_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("missing") << "absent.xml" << QByteArray();
        QTest::newRow("not a squad") << "notes.txt" << QByteArray("shopping list\n");
    }
    void checkOfAnUnreadableFileSaysWhyAndFails() {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        const QString file = m_dir.filePath(name);
        if (!contents.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        const Run run = troopbook({"--check", file});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.contains(file.toLocal8Bit()), run.err.constData());
        QVERIFY(run.err.endsWith('\n'));
    }

    void helpAndVersionNeedNoWindow() {
        const Run version = troopbook({"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("Troopbook " TROOPBOOK_VERSION "\n"));
        const Run help = troopbook({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--check <file>"));
        QVERIFY(help.out.contains("[file]"));
        const Run wrong = troopbook({"--no-such-option"});
        QCOMPARE(wrong.exitCode, 1);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
