// The check of a published squad against a web server on loopback that stages one way of
// serving the squad wrongly per folder.
#include "publish/checkworker.h"
#include "publish/namedcompanions.h"
#include "publish/publishedcheck.h"
#include "publish/webfetcher.h"
#include "squad/squadreader.h"
#include "squad/squadwriter.h"
#include "webserver.h"

#include "../common/loopback.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>

using namespace publish;
using namespace std::chrono_literals;
using squad::Finding;

namespace {

squad::SquadData referenceSquad() {
    squad::SquadData squad;
    squad.properties = {"=NO=",     "Night Owls", "owls@example.org", "owls.example.org",
                        "logo.paa", "Owls"};
    squad.mmbdata.append({"76561197960287930", "Ann", "Ann Smith", "ann@example.org", "", ""});
    squad.mmbdata.append({"76561197960287931", "Bob", "Bob Jones", "", "", "medic"});
    return squad;
}

QStringList messages(const CheckReport &report, Finding::Kind kind) {
    QStringList found;
    for (const Finding &finding : report.findings) {
        if (finding.kind == kind)
            found << finding.message;
    }
    return found;
}

// A name whose system lookup is held until the test lets it go, as with a slow name server.
constexpr char heldName[] = "held-lookup.invalid";
struct HeldLookup {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool returned = false;
};
// Never destroyed: the resolver's thread may still use it while the program ends.
HeldLookup &heldLookup() {
    static HeldLookup *const held = new HeldLookup;
    return *held;
}

} // namespace

// libcurl's resolver calls the system's getaddrinfo, which this program takes the place of.
extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints,
                           addrinfo **result) {
    if (node && std::strcmp(node, heldName) == 0) {
        HeldLookup &held = heldLookup();
        std::unique_lock lock(held.mutex);
        held.entered = true;
        held.changed.notify_all();
        held.changed.wait_for(lock, 15s, [&] { return held.released; });
        held.returned = true;
        return EAI_NONAME;
    }
    using Function = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto system = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return system(node, service, hints, result);
}

class TestPublishedCheck : public QObject {
    Q_OBJECT

    std::unique_ptr<testweb::WebServer> m_server;

    CheckReport check(const QString &address, bool trust, bool compare,
                      std::chrono::milliseconds timeout = 10s,
                      const squad::PictureInspector *pictures = nullptr) {
        QString error;
        const std::optional<QUrl> url = parseAddress(address, &error);
        if (!url)
            qFatal("%s", qPrintable(error));
        CheckRequest request{*url, std::nullopt, QStringLiteral("the squad in the editor")};
        request.pictures = pictures;
        if (compare)
            request.local = referenceSquad();
        WebFetcher fetcher;
        fetcher.setConnectTo(m_server->connectTo());
        fetcher.setTimeout(timeout);
        if (trust)
            fetcher.setTrustedCertificates(m_server->certificate());
        return checkPublished(request, fetcher);
    }

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<testweb::WebServer>();
        QVERIFY(m_server->isRunning());
        const QByteArray squadFile = squad::fileContents(referenceSquad());
        squad::SquadData other = referenceSquad();
        other.properties[1] = "Night Owls II";
        other.mmbdata.remove(0);
        const QList<std::pair<QString, QByteArray>> companions{
            {"squad.dtd", "<!ELEMENT squad ANY>\n"},
            {"squad.xsl", "<xsl:stylesheet version=\"1.0\"/>\n"},
            {"logo.paa", QByteArray(4096, 'p')}};
        const auto withSquad = [&](const QByteArray &bytes) {
            auto files = companions;
            files.append({"squad.xml", bytes});
            return files;
        };
        QVERIFY(m_server->stage("good", withSquad(squadFile)));
        QVERIFY(m_server->stage("redirect", withSquad(squadFile),
                                "squad.xml redirect http://localhost/good/squad.xml\n"));
        QVERIFY(m_server->stage("nopicture", {{"squad.xml", squadFile},
                                              {"squad.dtd", "<!ELEMENT squad ANY>\n"},
                                              {"squad.xsl", "<xsl:stylesheet/>\n"}}));
        QVERIFY(m_server->stage("bare", {{"squad.xml", squadFile}, {"logo.paa", "p"}}));
        QVERIFY(m_server->stage("chunked", withSquad(squadFile), "squad.xml chunked\n"));
        QVERIFY(m_server->stage("html", withSquad(squadFile), "squad.xml type text/html\n"));
        QVERIFY(m_server->stage("controls", withSquad(squadFile),
                                "squad.xml type text/html\x1b[2J\x07\xc2\x9b\n"));
        QVERIFY(m_server->stage("charset", withSquad(squadFile),
                                "squad.xml type text/xml;charset=UTF-8\n"));
        QVERIFY(m_server->stage("differs", withSquad(squad::fileContents(other))));
        QVERIFY(m_server->stage("notsquad", withSquad("<html><body>Gone</body></html>\n")));
        QVERIFY(m_server->stage("short", withSquad(squadFile), "squad.xml short\n"));
        // Stored cut short, as an interrupted upload leaves it: served whole, with its length.
        QVERIFY(
            m_server->stage("cutshort", withSquad(squadFile.left(squadFile.indexOf("</squad")))));
        QVERIFY(m_server->stage("stall", withSquad(squadFile), "squad.xml stall\n"));
        QVERIFY(m_server->stage("unreadable", withSquad(QByteArray(squadFile).insert(
                                                  squadFile.indexOf("</name>"), 1, '\x01'))));
        squad::SquadData upward = referenceSquad();
        upward.properties[int(squad::Property::Picture)] = "..";
        QVERIFY(m_server->stage("upward", withSquad(squad::fileContents(upward))));
        QVERIFY(m_server->stage("bigheader", withSquad(squadFile), "squad.xml bigheader\n"));
        // The head names the companions elsewhere: one folder up, in a folder below, on
        // another server.
        const auto naming = [&](const QByteArray &dtd, const QByteArray &xsl) {
            return QByteArray(squadFile)
                .replace("SYSTEM \"squad.dtd\"", QByteArray("SYSTEM \"" + dtd + '"'))
                .replace("href=\"squad.xsl?\"", QByteArray("href=\"" + xsl + '"'));
        };
        QVERIFY(m_server->stage("named", companions));
        QVERIFY(m_server->stage(
            "named/inner",
            QList<std::pair<QString, QByteArray>>{
                {"squad.xml", naming("../squad.dtd", "../squad.xsl")}, {"logo.paa", "p"}}));
        QVERIFY(m_server->stage(
            "named/port",
            QList<std::pair<QString, QByteArray>>{
                {"squad.xml", naming("http://localhost:80/named/squad.dtd", "/named/squad.xsl?")},
                {"logo.paa", "p"}}));
        QVERIFY(m_server->stage("namedbelow", withSquad(naming("lib/squad.dtd", "lib/squad.xsl"))));
        QVERIFY(m_server->stage("namedelsewhere",
                                withSquad(naming("squad.dtd", "http://other.invalid/squad.xsl"))));
        QVERIFY(m_server->stage("emptypicture", {{"squad.xml", squadFile},
                                                 {"squad.dtd", "<!ELEMENT squad ANY>\n"},
                                                 {"squad.xsl", "<xsl:stylesheet/>\n"},
                                                 {"logo.paa", ""}}));
    }

    void cleanupTestCase() { m_server.reset(); }

    // The picture fetched goes to the inspector whole, and what it finds is reported as the
    // published check's own; a picture not fetched is not inspected.
    void picturesFetchedAreInspected_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("inspected");
        QTest::newRow("served") << "good" << QStringList{"logo.paa: 4096 bytes"};
        QTest::newRow("missing") << "nopicture" << QStringList{};
        QTest::newRow("empty") << "emptypicture" << QStringList{};
    }
    void picturesFetchedAreInspected() {
        QFETCH(QString, folder);
        QFETCH(QStringList, inspected);
        struct Recorder : squad::PictureInspector {
            QList<Finding> inspect(const QString &name, QByteArrayView file) const override {
                return {{Finding::Kind::Hint, -1, squad::Property::Picture, std::nullopt,
                         QStringLiteral("%1: %2 bytes").arg(name).arg(file.size())}};
            }
            QList<Finding> inspectFile(const QString &, const QString &) const override {
                qFatal("the published check has no picture file");
            }
        } recorder;
        const CheckReport report =
            check("http://localhost/" + folder + "/squad.xml", true, false, 10s, &recorder);
        QStringList found;
        for (const Finding &f : report.findings) {
            if (f.message.startsWith("logo.paa: ")) {
                found << f.message;
                QVERIFY(!f.property);
            }
        }
        QCOMPARE(found, inspected);
    }

    void namesWhatIsWrong_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("trust");
        QTest::addColumn<bool>("compare");
        QTest::addColumn<int>("timeoutMs");
        // Each finding of the kind holds one of these, in order; no other finding of it.
        QTest::addColumn<QStringList>("problems");
        QTest::addColumn<QStringList>("hints");
        QTest::addColumn<bool>("anythingFetched");
        QTest::addColumn<int>("filesFetched");

        QTest::newRow("all well over http") << "http://localhost/good/squad.xml" << true << true
                                            << 10000 << QStringList{} << QStringList{} << true << 5;
        QTest::newRow("all well over a trusted https")
            << "https://localhost/good/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{} << true << 5;
        QTest::newRow("all well, nothing to compare with")
            << "localhost/good/squad.xml" << true << false << 10000 << QStringList{}
            << QStringList{} << true << 5;
        QTest::newRow("https with an untrusted certificate")
            << "https://localhost/good/squad.xml" << false << true << 10000
            << QStringList{"certificate could not be verified"}
            << QStringList{"Over http the squad file does answer"} << true << 2;
        QTest::newRow("untrusted https counterpart")
            << "http://localhost/good/squad.xml" << false << true << 10000 << QStringList{}
            << QStringList{"Over https the squad file cannot be fetched (https://localhost/good/"
                           "squad.xml): The server's certificate could not be verified"}
            << true << 5;
        QTest::newRow("redirect")
            << "http://localhost/redirect/squad.xml" << true << true << 10000
            << QStringList{"redirects the squad file (301 Moved Permanently) to "
                           "http://localhost/good/squad.xml"}
            << QStringList{"Over https the server redirects (301 Moved Permanently)"} << true << 5;
        QTest::newRow("picture missing")
            << "http://localhost/nopicture/squad.xml" << true << true << 10000
            << QStringList{"The picture \"logo.paa\" is missing beside the squad file (the "
                           "server answers \"404 Not Found\" at "
                           "http://localhost/nopicture/logo.paa)"}
            << QStringList{} << true << 5;
        QTest::newRow("picture named \"..\" is not fetched")
            << "http://localhost/upward/squad.xml" << true << false << 10000
            << QStringList{"The picture \"..\" is no plain file name"} << QStringList{} << true
            << 4;
        QTest::newRow("picture empty")
            << "http://localhost/emptypicture/squad.xml" << true << true << 10000
            << QStringList{"The picture \"logo.paa\" is empty on the server"} << QStringList{}
            << true << 5;
        QTest::newRow("dtd and xsl missing are hints")
            << "http://localhost/bare/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{"squad.dtd is missing", "squad.xsl is missing"} << true << 5;
        QTest::newRow("no content length")
            << "http://localhost/chunked/squad.xml" << true << true << 10000
            << QStringList{"without a Content-Length"} << QStringList{} << true << 5;
        QTest::newRow("body shorter than announced")
            << "http://localhost/short/squad.xml" << true << true << 10000
            << QStringList{"announced"} << QStringList{} << true << 5;
        QTest::newRow("stored cut short")
            << "http://localhost/cutshort/squad.xml" << true << false << 10000
            << QStringList{"ends before the end of the squad"} << QStringList{} << true << 5;
        QTest::newRow("a character that cannot be read")
            << "http://localhost/unreadable/squad.xml" << true << false << 10000
            << QStringList{"holds 1 character that cannot be read, the first on line 7"}
            << QStringList{} << true << 5;
        QTest::newRow("html content type")
            << "http://localhost/html/squad.xml" << true << true << 10000
            << QStringList{"as \"text/html\", not as XML"} << QStringList{} << true << 5;
        QTest::newRow("control characters in a header")
            << "http://localhost/controls/squad.xml" << true << true << 10000
            << QStringList{"as \"text/html?[2J??\", not as XML"} << QStringList{} << true << 5;
        QTest::newRow("xml content type with charset")
            << "http://localhost/charset/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{} << true << 5;
        QTest::newRow("another version")
            << "http://localhost/differs/squad.xml" << true << true << 10000
            << QStringList{"another version of the squad than the squad in the editor. On the "
                           "server: the name differs; Ann (ID 76561197960287930) is missing."}
            << QStringList{} << true << 5;
        QTest::newRow("not a squad")
            << "http://localhost/notsquad/squad.xml" << true << true << 10000
            << QStringList{"no squad file: The file holds no squad"} << QStringList{} << true << 5;
        QTest::newRow("stalling server")
            << "http://localhost/stall/squad.xml" << true << true << 1000
            << QStringList{"did not answer within 1 second."}
            << QStringList{"Over https the squad file cannot be fetched"} << false << 2;
        QTest::newRow("response header of 2 MB")
            << "http://localhost/bigheader/squad.xml" << true << true << 10000
            << QStringList{"could not be fetched from http://localhost/bigheader/squad.xml: The "
                           "server's response header is larger than the 100 KB"}
            << QStringList{"Over https the squad file cannot be fetched"} << false << 2;
        QTest::newRow("companions one folder up, as the file names them")
            << "http://localhost/named/inner/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{} << true << 5;
        QTest::newRow("companions named absolute, the usual port written out")
            << "http://localhost/named/port/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{} << true << 5;
        QTest::newRow("companions named below, missing there")
            << "http://localhost/namedbelow/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{"squad.dtd is missing where the squad file names it (the server "
                           "answers \"404 Not Found\" at "
                           "http://localhost/namedbelow/lib/squad.dtd)",
                           "squad.xsl is missing where the squad file names it"}
            << true << 5;
        QTest::newRow("style sheet named on another server")
            << "http://localhost/namedelsewhere/squad.xml" << true << true << 10000 << QStringList{}
            << QStringList{"names its style sheet at \"http://other.invalid/squad.xsl\", not on "
                           "its "
                           "own server (http://localhost)"}
            << true << 4;
        QTest::newRow("nobody listening")
            << QStringLiteral("http://127.0.0.1:%1/squad.xml")
                   .arg(QString::number(testnet::freePort()))
            << true << true << 10000 << QStringList{"could not be reached"}
            << QStringList{"Over https the squad file cannot be fetched"} << false << 2;
    }
    void namesWhatIsWrong() {
        QFETCH(QString, address);
        QFETCH(bool, trust);
        QFETCH(bool, compare);
        QFETCH(int, timeoutMs);
        QFETCH(QStringList, problems);
        QFETCH(QStringList, hints);
        QFETCH(bool, anythingFetched);
        QFETCH(int, filesFetched);

        const qsizetype requestsBefore = m_server->requests().size();
        const CheckReport report =
            check(address, trust, compare, std::chrono::milliseconds(timeoutMs));
        const auto verifyKind = [&](Finding::Kind kind, const QStringList &expected) {
            const QStringList found = messages(report, kind);
            QVERIFY2(found.size() == expected.size(), qPrintable(found.join(u'\n')));
            for (int i = 0; i < expected.size(); ++i)
                QVERIFY2(found[i].contains(expected[i]), qPrintable(found[i]));
        };
        verifyKind(Finding::Kind::Problem, problems);
        verifyKind(Finding::Kind::Hint, hints);
        for (const Finding &finding : report.findings) {
            QCOMPARE(finding.member, -1);
            QVERIFY(!finding.property && !finding.field);
        }
        QCOMPARE(report.anythingFetched, anythingFetched);
        QCOMPARE(report.cancelled, false);
        QCOMPARE(report.files.size(), filesFetched);
        // The companions are asked for where the file names them, and only there.
        if (address.contains(u"/named/"))
            QVERIFY(m_server->requests().mid(requestsBefore).contains("http /named/squad.dtd"));
        // The redirect's target is never asked for by the check itself.
        if (address.contains(u"redirect"))
            QVERIFY(!m_server->requests().mid(requestsBefore).contains("http /good/squad.xml"));
    }

    // Only the head before the squad element counts, in the forms XML allows there.
    void headNamesTheCompanions_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("documentType");
        QTest::addColumn<QString>("styleSheet");
        QTest::newRow("as Troopbook writes it")
            << squad::fileContents(referenceSquad()) << "squad.dtd"
            << "squad.xsl?";
        QTest::newRow("public identifier, single quotes, internal subset")
            << QByteArray("<?xml version='1.0'?>\n<!-- a > b -->\n<!DOCTYPE squad PUBLIC "
                          "'-//X//EN' '../d/squad.dtd' [ <!ENTITY a 'b'> ]>\n"
                          "<?xml-stylesheet type='text/xsl' href='../x.xsl?v=1&amp;w=2'?><squad/>")
            << "../d/squad.dtd"
            << "../x.xsl?v=1&w=2";
        QTest::newRow("none named") << QByteArray("<squad nick=\"x\"/>") << ""
                                    << "";
        QTest::newRow("after the squad element is no head")
            << QByteArray("<squad/><!DOCTYPE squad SYSTEM \"x.dtd\"><?xml-stylesheet href=\"x\"?>")
            << ""
            << "";
        const QString utf16 =
            QStringLiteral("<!DOCTYPE squad SYSTEM \"u.dtd\"><?xml-stylesheet href=\"u.xsl\"?>");
        QTest::newRow("UTF-16 with a byte-order mark")
            << QByteArray("\xFF\xFE") +
                   QByteArray(reinterpret_cast<const char *>(utf16.utf16()), 2 * utf16.size())
            << "u.dtd"
            << "u.xsl";
    }
    void headNamesTheCompanions() {
        QFETCH(QByteArray, head);
        QFETCH(QString, documentType);
        QFETCH(QString, styleSheet);
        const NamedCompanions named = namedCompanions(head);
        QCOMPARE(named.documentType, documentType);
        QCOMPARE(named.styleSheet, styleSheet);
    }

    // A game asks the server itself; a proxy, maybe caching, could hide what the server sends.
    void proxiesAreNotUsed_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("address");
        QTest::newRow("http_proxy")
            << QByteArray("http_proxy") << "http://localhost/good/squad.xml";
        QTest::newRow("HTTPS_PROXY")
            << QByteArray("HTTPS_PROXY") << "https://localhost/good/squad.xml";
        QTest::newRow("all_proxy") << QByteArray("all_proxy") << "http://localhost/good/squad.xml";
    }
    void proxiesAreNotUsed() {
        QFETCH(QByteArray, variable);
        QFETCH(QString, address);
        // A proxy nobody runs: any request sent through it fails.
        qputenv(variable.constData(),
                QByteArray("http://127.0.0.1:") + QByteArray::number(testnet::freePort()));
        const auto unset = qScopeGuard([&] { qunsetenv(variable.constData()); });
        const CheckReport report = check(address, true, true);
        QCOMPARE(messages(report, Finding::Kind::Problem), QStringList());
        QCOMPARE(messages(report, Finding::Kind::Hint), QStringList());
    }

    void fileLinesSayStatusTypeAndSize() {
        const CheckReport report = check("http://localhost/good/squad.xml", true, true);
        const QByteArray squadFile = squad::fileContents(referenceSquad());
        QCOMPARE(report.files.size(), 5);
        QCOMPARE(
            report.files[0].line(),
            QStringLiteral("http://localhost/good/squad.xml: 200 OK, application/xml, %1 bytes")
                .arg(squadFile.size()));
        QCOMPARE(report.files[1].line(), QStringLiteral("http://localhost/good/logo.paa: 200 OK, "
                                                        "application/octet-stream, 4096 bytes"));
        QCOMPARE(report.files[4].url, QStringLiteral("https://localhost/good/squad.xml"));
    }

    // Closing the window cancels the check and waits for its thread, which must not wait in
    // turn for a name lookup that may take many seconds.
    void cancelDoesNotWaitForTheNameLookup() {
        const std::optional<QUrl> url =
            parseAddress(QStringLiteral("http://%1/squad.xml").arg(heldName), nullptr);
        QVERIFY(url);
        auto worker = std::make_unique<CheckWorker>(CheckRequest{*url, std::nullopt, QString()});
        worker->start();
        HeldLookup &held = heldLookup();
        {
            std::unique_lock lock(held.mutex);
            QVERIFY(held.changed.wait_for(lock, 10s, [&] { return held.entered; }));
        }
        worker.reset();
        bool returned = false;
        {
            std::lock_guard lock(held.mutex);
            returned = held.returned;
            held.released = true;
            held.changed.notify_all();
        }
        QVERIFY2(!returned, "the cancel waited for the name lookup to end");
    }

    void cancelEndsAStalledCheck() {
        const std::optional<QUrl> url = parseAddress("http://localhost/stall/squad.xml", nullptr);
        QVERIFY(url);
        CheckWorker worker(CheckRequest{*url, referenceSquad(), QStringLiteral("the editor")});
        worker.fetcher().setConnectTo(m_server->connectTo());
        QSignalSpy finished(&worker, &CheckWorker::finished);
        worker.start();
        // The server has the request and holds it; the 20 s time-out is far away.
        QTRY_VERIFY(m_server->requests().count("http /stall/squad.xml") > 0);
        QVERIFY(!worker.isFinished());
        worker.cancel();
        // The thread may end before a wait for its signal would begin.
        QTRY_VERIFY_WITH_TIMEOUT(worker.isFinished(), 5000);
        // Told on the owner's thread, once.
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(worker.report().cancelled);
        QVERIFY(worker.report().findings.isEmpty());
    }

    // A cancel that comes while the squad file is in, as when the window closes then, stops the
    // stages after the fetch too: nothing is decoded, compared or reported any more.
    void cancelStopsDecodeAndComparison() {
        const std::optional<QUrl> url = parseAddress("http://localhost/differs/squad.xml", nullptr);
        QVERIFY(url);
        WebFetcher fetcher;
        fetcher.setConnectTo(m_server->connectTo());
        const CheckRequest request{*url, referenceSquad(), QStringLiteral("the editor")};
        const CheckReport report =
            checkPublished(request, fetcher, [&](const FetchedFile &) { fetcher.cancel(); });
        QVERIFY(report.cancelled);
        QCOMPARE(report.files.size(), 1);
        QVERIFY2(report.findings.isEmpty(), qPrintable(report.findings.value(0).message));

        // The reader itself gives up on a cancelled read of a big body.
        squad::SquadData big;
        for (int i = 0; i < 200000; ++i)
            big.mmbdata.append({QString::number(i), "N", "", "", "", ""});
        const std::atomic<bool> cancelled{true};
        const squad::DecodeResult decoded = squad::decode(squad::fileContents(big), &cancelled);
        QVERIFY(!decoded.ok);
        QCOMPARE(decoded.data.mmbdata.memberCount(), 0);
    }

    void addressesTheCheckTakes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address"); // empty: refused
        QTest::addColumn<QString>("counterpart");
        QTest::newRow("https") << "https://example.org/clan/squad.xml"
                               << "https://example.org/clan/squad.xml"
                               << "http://example.org/clan/squad.xml";
        QTest::newRow("no scheme, blanks") << "  example.org/squad.xml "
                                           << "http://example.org/squad.xml"
                                           << "https://example.org/squad.xml";
        QTest::newRow("port dropped for the other scheme")
            << "http://example.org:8080/a/squad.xml?v=2#top"
            << "http://example.org:8080/a/squad.xml?v=2"
            << "https://example.org/a/squad.xml?v=2";
        QTest::newRow("folder") << "http://example.org/clan/"
                                << ""
                                << "";
        QTest::newRow("host only") << "example.org"
                                   << ""
                                   << "";
        QTest::newRow("ftp") << "ftp://example.org/squad.xml"
                             << ""
                             << "";
        // A mistyped address is refused as typed, not mended into another host.
        QTest::newRow("unclosed IPv6 bracket") << "http://[::1/squad.xml"
                                               << ""
                                               << "";
        QTest::newRow("blank in the host") << "https://exa mple.org/squad.xml"
                                           << ""
                                           << "";
        QTest::newRow("IPv6 host") << "http://[::1]:8080/squad.xml"
                                   << "http://[::1]:8080/squad.xml"
                                   << "https://[::1]/squad.xml";
        QTest::newRow("one slash after http:") << "http:/127.0.0.1/x.xml"
                                               << ""
                                               << "";
        QTest::newRow("no slash after HTTPS:") << "HTTPS:example.org/squad.xml"
                                               << ""
                                               << "";
        QTest::newRow("host and port, no scheme") << "example.org:8080/squad.xml"
                                                  << "http://example.org:8080/squad.xml"
                                                  << "https://example.org/squad.xml";
        QTest::newRow("empty") << "   "
                               << ""
                               << "";
    }
    void addressesTheCheckTakes() {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        QFETCH(QString, counterpart);
        QString error;
        const std::optional<QUrl> url = parseAddress(typed, &error);
        if (address.isEmpty()) {
            QVERIFY(!url);
            QVERIFY(error.endsWith(u'.'));
            QVERIFY2(error.contains(typed.trimmed()), qPrintable(error));
            return;
        }
        QVERIFY2(url, qPrintable(error));
        QCOMPARE(url->toString(), address);
        QCOMPARE(counterpartAddress(*url).toString(), counterpart);
    }
};

QTEST_GUILESS_MAIN(TestPublishedCheck)
#include "tst_publishedcheck.moc"
