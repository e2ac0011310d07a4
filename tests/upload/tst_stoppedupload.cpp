// A run stopped in the middle of a file, as closing the upload window or Exit stops it, over
// every protocol: the temporary copy goes from the server, the old file stays whole, and the run
// ends by itself. A file that a server can only take in place is finished, never cut short.
#include "app/uploadworker.h"
#include "ftpservers.h"
#include "sftpserver.h"
#include "upload/sessionfactory.h"

#include <QApplication>
#include <QTest>

#include <optional>
#include <thread>
#include <unistd.h>

using namespace upload;
using namespace std::chrono_literals;
using app::UploadWorker;

namespace {

QStringList entries(const QString &directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestStoppedUpload : public QObject {
    Q_OBJECT

    QTemporaryDir m_local;
    QTemporaryDir m_scratch;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_local.isValid());
        QVERIFY(m_scratch.isValid());
        QVERIFY(testftp::writeFile(m_local.filePath("squad.dtd"), "<!ELEMENT squad ANY>\n"));
    }

    void stoppedInTheMiddleOfAFile_data() {
        QTest::addColumn<QString>("server");
        // The window's way, the worker let go, or the session stopped by the caller itself.
        QTest::addColumn<bool>("viaWindow");
        QTest::addColumn<int>("size");
        QTest::newRow("ftp, window closed") << "ftp" << true << 300000;
        QTest::newRow("ftp, stopped") << "ftp" << false << 300000;
        QTest::newRow("ftpes, window closed") << "ftpes" << true << 300000;
        QTest::newRow("ftps, stopped") << "ftps" << false << 300000;
        QTest::newRow("sftp, window closed") << "sftp" << true << 3200000;
        QTest::newRow("ftp that renames nothing, stopped") << "in place" << false << 300000;
    }
    void stoppedInTheMiddleOfAFile() {
        QFETCH(QString, server);
        QFETCH(bool, viaWindow);
        QFETCH(int, size);
        const QByteArray squad(size, 'x');
        QVERIFY(testftp::writeFile(m_local.filePath("squad.xml"), squad));

        std::optional<testftp::PyFtpServer> pyftp;
        std::optional<testftp::ProFtpServer> proftp;
        std::optional<testftp::SftpServer> sftp;
        QString root;
        UploadRequest request{QString(),   "squad",  "secret", QString(), m_local.path() + u'/',
                              "squad.xml", QString()};
        SessionOptions options{.timeout = 20s};
        if (server == "ftp" || server == "in place") {
            // 100 kB/s: the stop comes long before the end.
            pyftp.emplace(testftp::PyFtpOptions{.fault = server == "ftp" ? "slow-stor"
                                                                         : "slow-stor,no-rename"});
            QVERIFY(pyftp->isRunning());
            root = pyftp->root();
            request.host = pyftp->address();
        } else if (server == "sftp") {
            sftp.emplace(testftp::SftpOptions{.slowWrites = true});
            QVERIFY(sftp->isRunning());
            root = sftp->root();
            request.host = sftp->address();
            options.knownHostsFile = m_scratch.filePath("known_hosts");
            QVERIFY(testftp::writeFile(options.knownHostsFile, sftp->knownHostsLine().toLatin1()));
        } else {
            if (::geteuid() != 0)
                QSKIP("ProFTPD serves its test account as user nobody, which takes root to set up");
            proftp.emplace(server == "ftps", true, 100);
            QVERIFY(proftp->isRunning());
            root = proftp->root();
            request.host = QString("%1://127.0.0.1:%2").arg(server).arg(proftp->port());
            request.user = "clan";
            options.trustedCertificates = proftp->certificate();
        }
        QVERIFY(testftp::writeFile(root + "/squad.xml", "old squad"));

        std::unique_ptr<ServerSession> session = makeSession(request, options);
        QVERIFY(session);
        ServerSession &stoppable = *session;
        auto *worker = new UploadWorker(request, std::move(session));
        worker->start();
        if (server == "in place") {
            // The copy under a temporary name found no rename; the file now goes over the old.
            QTRY_VERIFY_WITH_TIMEOUT(pyftp->commands().contains("STOR //squad.xml"), 20000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(entries(root).size() == 2 &&
                                         QFileInfo(root + u'/' + entries(root)[0]).size() > 0,
                                     20000);
        }
        if (viaWindow) {
            worker->abandon();
        } else {
            stoppable.cancelTidily();
            QVERIFY(worker->wait(10000));
            QVERIFY(worker->outcome().cancelled);
            delete worker;
        }
        QTRY_VERIFY_WITH_TIMEOUT(qApp->findChildren<UploadWorker *>().isEmpty(), 10000);

        QCOMPARE(entries(root), QStringList{"squad.xml"});
        QCOMPARE(testftp::readAll(root + "/squad.xml"),
                 server == "in place" ? squad : QByteArray("old squad"));
    }
};

QTEST_MAIN(TestStoppedUpload)
#include "tst_stoppedupload.moc"
