// Uploading the four squad files to a local FTP server: the upload sequence on libcurl, and the
// curl command-line tool sending the same files in one invocation, against the same server. The
// same sequence over SFTP to a local asyncssh server, each file replaced by a rename.
#include "../tests/upload/ftpservers.h"
#include "../tests/upload/sftpserver.h"
#include "upload/ftpsession.h"
#include "upload/sftpsession.h"
#include "upload/uploadsequence.h"

#include <QCoreApplication>
#include <QProcess>
#include <csignal>

#include <benchmark/benchmark.h>

#include <thread>

using namespace upload;

namespace {

struct Fixture {
    QTemporaryDir local;
    testftp::PyFtpServer server;
    qint64 bytes = 0;

    Fixture() {
        QByteArray picture(256 * 1024, '\0');
        for (int i = 0; i < picture.size(); ++i)
            picture[i] = char(i * 31 + i / 977);
        QByteArray squad = "<?xml version=\"1.0\"?>\r\n<squad nick=\"TB\">\r\n";
        for (int i = 0; i < 100; ++i)
            squad += "<member id=\"" + QByteArray::number(10000 + i) + "\" nick=\"Nick" +
                     QByteArray::number(i) + "\">\r\n<name>Full Name</name>\r\n</member>\r\n";
        squad += "</squad>\r\n";
        const QList<std::pair<const char *, QByteArray>> files{
            {"squad.xml", squad},
            {"squad.dtd", QByteArray(1200, 'd')},
            {"squad.xsl", QByteArray(6000, 's')},
            {"logo.paa", picture},
        };
        for (const auto &[name, content] : files) {
            testftp::writeFile(local.filePath(QLatin1String(name)), content);
            bytes += content.size();
        }
        QDir(server.root()).mkdir(QStringLiteral("squad"));
    }
};

Fixture &fixture() {
    static Fixture f;
    return f;
}

void BM_UploadSequence(benchmark::State &state) {
    Fixture &f = fixture();
    if (!f.server.isRunning()) {
        state.SkipWithError("the test FTP server did not start");
        return;
    }
    const UploadRequest request{f.server.address(),        QStringLiteral("squad"),
                                QStringLiteral("secret"),  QStringLiteral("squad"),
                                f.local.path() + u'/',     QStringLiteral("squad.xml"),
                                QStringLiteral("logo.paa")};
    const ServerAddress address = *ServerAddress::parse(request.host, nullptr);
    for (auto _ : state) {
        FtpSession session(address, request.user, request.password);
        const UploadOutcome outcome = runUpload(request, session);
        if (!outcome.messages.isEmpty() || outcome.stored.size() != 4) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * f.bytes);
}
BENCHMARK(BM_UploadSequence)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SftpUploadSequence(benchmark::State &state) {
    Fixture &f = fixture();
    static testftp::SftpServer server;
    if (!server.isRunning()) {
        state.SkipWithError("the test SFTP server did not start");
        return;
    }
    QDir(server.root()).mkdir(QStringLiteral("squad"));
    const QString knownHosts = f.local.filePath(QStringLiteral("known_hosts"));
    testftp::writeFile(knownHosts, server.knownHostsLine().toLatin1());
    const UploadRequest request{server.address(),          QStringLiteral("squad"),
                                QStringLiteral("secret"),  QStringLiteral("squad"),
                                f.local.path() + u'/',     QStringLiteral("squad.xml"),
                                QStringLiteral("logo.paa")};
    const ServerAddress address = *ServerAddress::parse(request.host, nullptr);
    for (auto _ : state) {
        SftpSession session(address, request.user, request.password);
        session.setKnownHostsFile(knownHosts);
        const UploadOutcome outcome = runUpload(request, session);
        if (!outcome.messages.isEmpty() || outcome.stored.size() != 4) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * f.bytes);
}
BENCHMARK(BM_SftpUploadSequence)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_CurlCommandLine(benchmark::State &state) {
    Fixture &f = fixture();
    if (!f.server.isRunning()) {
        state.SkipWithError("the test FTP server did not start");
        return;
    }
    const QStringList arguments{"--silent",
                                "--show-error",
                                "--user",
                                "squad:secret",
                                "--upload-file",
                                "{squad.xml,squad.dtd,squad.xsl,logo.paa}",
                                QStringLiteral("ftp://%1/squad/").arg(f.server.address())};
    for (auto _ : state) {
        QProcess curl;
        curl.setWorkingDirectory(f.local.path());
        curl.start(QStringLiteral("curl"), arguments);
        if (!curl.waitForFinished(30000) || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * f.bytes);
}
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// From a cancel to the end of the run, with the name server not answering: the time closing
// the upload window or Exit could be held up by a run in that phase.
void BM_CancelDuringNameLookup(benchmark::State &state) {
    using namespace std::chrono_literals;
    const UploadRequest request{QStringLiteral("ftp.troopbook.invalid"),
                                QStringLiteral("squad"),
                                QStringLiteral("secret"),
                                QStringLiteral("squad"),
                                fixture().local.path() + u'/',
                                QStringLiteral("squad.xml"),
                                QStringLiteral("logo.paa")};
    const ServerAddress address = *ServerAddress::parse(request.host, nullptr);
    for (auto _ : state) {
        testftp::StalledLookup lookup;
        FtpSession session(address, request.user, request.password);
        session.setNameLookup(lookup.function());
        std::thread worker([&] { runUpload(request, session); });
        while (!lookup.isEntered())
            std::this_thread::sleep_for(1ms);
        const auto start = std::chrono::steady_clock::now();
        session.cancel();
        worker.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_CancelDuringNameLookup)->Unit(benchmark::kMicrosecond)->UseManualTime();

} // namespace

int main(int argc, char **argv) {
    // As the program's main() does: a server hanging up must fail a write, not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
