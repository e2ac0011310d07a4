#include "publishedcheck.h"

#include "namedcompanions.h"
#include "squad/picturename.h"
#include "squad/squadcompare.h"
#include "squad/squadreader.h"
#include "webfetcher.h"

#include <QHashFunctions>
#include <QRegularExpression>

namespace publish {
namespace {

using squad::Finding;

Finding problem(const QString &message) {
    return {Finding::Kind::Problem, -1, std::nullopt, std::nullopt, message};
}

Finding hint(const QString &message) {
    return {Finding::Kind::Hint, -1, std::nullopt, std::nullopt, message};
}

QString statusText(const WebResponse &response) {
    return response.reason.isEmpty()
               ? QString::number(response.status)
               : QStringLiteral("%1 %2").arg(QString::number(response.status), response.reason);
}

QString capitalized(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

bool isRedirect(int status) {
    return status >= 300 && status < 400;
}

// The differences a report keeps; the message names five and counts the rest.
constexpr qsizetype maximumDifferences = 100;

bool isXmlType(const QString &contentType) {
    const QString mediaType = contentType.section(u';', 0, 0).trimmed().toLower();
    return mediaType == u"application/xml" || mediaType == u"text/xml";
}

// Scheme, host and port alike, the port given or the scheme's usual one.
bool sameServer(const QUrl &a, const QUrl &b) {
    const auto port = [](const QUrl &url) {
        return url.port(url.scheme() == u"https" ? 443 : 80);
    };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}

class Check {
public:
    Check(const CheckRequest &request, WebFetcher &fetcher,
          const std::function<void(const FetchedFile &)> &fileFetched)
        : m_request(request)
        , m_fetcher(fetcher)
        , m_fileFetched(fileFetched) {}

    CheckReport run() {
        const QUrl &address = m_request.address;
        WebResponse squadFile = fetch(address);
        if (squadFile.cancelled)
            return finish();
        std::optional<QString> servedPicture;
        if (!squadFile.answered) {
            add(problem(QStringLiteral("The squad file could not be fetched from %1: %2")
                            .arg(address.toDisplayString(), squadFile.error)));
        } else if (squadFile.status != 200) {
            reportStatus(squadFile);
        } else {
            servedPicture = checkBody(squadFile);
        }
        if (cancelled())
            return finish();
        const NamedCompanions named = squadFile.answered && squadFile.status == 200
                                          ? namedCompanions(squadFile.body)
                                          : NamedCompanions();
        // Only its size and hash are needed from here on, for the copy over the other scheme.
        const BodyPrint squadPrint = printOf(squadFile.body);
        squadFile.body = QByteArray();

        // A server that gave no answer at all would only make the user wait for each companion.
        if (squadFile.answered) {
            const QString picture = m_request.local
                                        ? m_request.local->property(squad::Property::Picture)
                                        : servedPicture.value_or(QString());
            if (!picture.isEmpty())
                checkPicture(picture);
            const std::pair<QString, const char *> companions[] = {
                {named.documentType, "squad.dtd"}, {named.styleSheet, "squad.xsl"}};
            for (const auto &[reference, plainName] : companions) {
                if (!checkNamedCompanion(reference, QString::fromLatin1(plainName)))
                    return finish();
            }
        }
        checkCounterpart(squadFile, squadPrint);
        return finish();
    }

private:
    WebResponse fetch(const QUrl &url) {
        WebResponse response = m_fetcher.get(url);
        if (response.cancelled) {
            m_report.cancelled = true;
            return response;
        }
        m_report.anythingFetched |= response.answered;
        FetchedFile file{url.toDisplayString(), response.answered,    response.status,
                         response.reason,       response.contentType, response.body.size(),
                         response.error};
        m_report.files << file;
        if (m_fileFetched)
            m_fileFetched(file);
        return response;
    }

    void add(const Finding &finding) { m_report.findings << finding; }

    // The user closed the check: whatever stage it is in, it ends and reports nothing more.
    bool cancelled() {
        if (m_fetcher.isCancelled())
            m_report.cancelled = true;
        return m_report.cancelled;
    }

    struct BodyPrint {
        qint64 size = 0;
        size_t hash = 0;
    };
    static BodyPrint printOf(const QByteArray &body) {
        return {body.size(), qHash(body, QHashSeed::globalSeed())};
    }

    CheckReport finish() { return std::move(m_report); }

    void reportStatus(const WebResponse &response) {
        if (isRedirect(response.status) && !response.location.isEmpty()) {
            add(problem(QStringLiteral("The server redirects the squad file (%1) to %2. The game "
                                       "does not follow redirects: give it the address where the "
                                       "file lies, or have the server send the file here.")
                            .arg(statusText(response), response.location)));
        } else if (isRedirect(response.status)) {
            add(problem(QStringLiteral("The server answers the squad file with a redirect (%1) "
                                       "that names no target.")
                            .arg(statusText(response))));
        } else {
            add(problem(QStringLiteral("The server answers \"%1\" instead of sending the squad "
                                       "file: check the address and the upload's remote "
                                       "directory.")
                            .arg(statusText(response))));
        }
    }

    // Returns the served squad's picture, when the body is a squad.
    std::optional<QString> checkBody(const WebResponse &response) {
        const qint64 size = response.body.size();
        if (response.truncated) {
            add(problem(QStringLiteral("The server announced %1 bytes for the squad file but the "
                                       "connection closed after %2: the game gets a broken file.")
                            .arg(response.contentLength)
                            .arg(size)));
        } else if (response.contentLength < 0) {
            add(problem(QStringLiteral("The server sends the squad file without a Content-Length "
                                       "header (chunked); some game servers read a squad only "
                                       "with one. Have the web server send the file as a plain "
                                       "static file.")));
        } else if (response.contentLength != size) {
            add(problem(QStringLiteral("The server's Content-Length (%1 bytes) differs from the "
                                       "%2 bytes of the squad file it sent.")
                            .arg(response.contentLength)
                            .arg(size)));
        }
        if (response.contentType.isEmpty()) {
            add(problem(QStringLiteral("The server sends the squad file without a content type; "
                                       "some game servers read a squad only as application/xml "
                                       "or text/xml. Have the web server send .xml files with "
                                       "\"Content-Type: application/xml\".")));
        } else if (!isXmlType(response.contentType)) {
            add(problem(QStringLiteral("The server sends the squad file as \"%1\", not as XML; "
                                       "some game servers read a squad only as application/xml "
                                       "or text/xml. Have the web server send .xml files with "
                                       "\"Content-Type: application/xml\".")
                            .arg(response.contentType)));
        }

        const squad::DecodeResult decoded = squad::decode(response.body, &m_fetcher.cancelFlag());
        if (cancelled())
            return std::nullopt;
        if (!decoded.ok) {
            add(problem(QStringLiteral("What the server sends is no squad file: %1 (line %2)")
                            .arg(decoded.error, QString::number(decoded.errorLine))));
            return std::nullopt;
        }
        // A game's XML parser refuses the whole file, whatever members it still holds. (A body
        // cut off on the way was reported above.)
        if (decoded.truncated && !response.truncated) {
            add(problem(QStringLiteral("The squad file on the server ends before the end of the "
                                       "squad: it was stored cut short, and a game cannot read "
                                       "it. Upload the squad again.")));
        }
        if (decoded.unreadable > 0) {
            add(problem(QStringLiteral("The squad file on the server holds %1 that cannot be "
                                       "read, the first on line %2, so a game's XML parser "
                                       "refuses it. Open the squad file, check those values, "
                                       "save it and upload it again.")
                            .arg(decoded.unreadable == 1
                                     ? QStringLiteral("1 character")
                                     : QStringLiteral("%1 characters").arg(decoded.unreadable),
                                 QString::number(decoded.unreadableLine))));
        }
        if (m_request.local) {
            const squad::SquadDifferences differences = squad::squadDifferences(
                *m_request.local, decoded.data, maximumDifferences, &m_fetcher.cancelFlag());
            if (cancelled())
                return std::nullopt;
            const QString advice =
                m_request.localUnsaved
                    ? QStringLiteral("%1 has changes that are not saved yet: save and upload "
                                     "them.")
                          .arg(capitalized(m_request.localName))
                    : QStringLiteral("Upload the squad again; if that does not help, a cache or "
                                     "an old copy stands in the way.");
            if (differences.count > 0)
                add(problem(QStringLiteral("The server sends another version of the squad than "
                                           "%1. On the server: %2. %3")
                                .arg(m_request.localName, squad::summarizeDifferences(differences),
                                     advice)));
        }
        return decoded.data.property(squad::Property::Picture);
    }

    void checkPicture(const QString &picture) {
        const QString name = squad::pictureFileName(picture);
        if (name.isEmpty()) {
            add(problem(QStringLiteral("The picture \"%1\" is no plain file name; the game looks "
                                       "for the picture beside the squad file, so it was not "
                                       "fetched.")
                            .arg(picture)));
            return;
        }
        checkCompanion(name, besideSquadFile(name), true);
    }

    QUrl besideSquadFile(const QString &name) const {
        return m_request.address.resolved(
            QUrl(QString::fromLatin1(QUrl::toPercentEncoding(name)), QUrl::StrictMode));
    }

    // squad.dtd or squad.xsl where the squad file names it (`reference`), or beside the file
    // under its plain name when it names none. False when the check was cancelled.
    bool checkNamedCompanion(const QString &reference, const QString &plainName) {
        if (reference.isEmpty())
            return checkCompanion(plainName, besideSquadFile(plainName), false);
        const QUrl &address = m_request.address;
        const QUrl url = address.resolved(QUrl(reference));
        if (!sameServer(url, address)) {
            add(hint(
                QStringLiteral("The squad file names its %1 at \"%2\", not on its own server "
                               "(%3), so it was not fetched; browsers take a style sheet "
                               "only from the squad file's server. Keep squad.dtd and "
                               "squad.xsl beside the squad file.")
                    .arg(
                        plainName == u"squad.xsl" ? QStringLiteral("style sheet")
                                                  : QStringLiteral("document type"),
                        reference.left(200),
                        address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toDisplayString())));
            return true;
        }
        const QString name = url.fileName().isEmpty() ? plainName : url.fileName();
        return checkCompanion(name, url, false);
    }

    // False when the check was cancelled.
    bool checkCompanion(const QString &name, const QUrl &url, bool isPicture) {
        const WebResponse response = fetch(url);
        if (response.cancelled)
            return false;
        const QString what = isPicture ? QStringLiteral("The picture \"%1\"").arg(name) : name;
        const auto finding = [isPicture](const QString &message) {
            return isPicture ? problem(message) : hint(message);
        };
        const QString why =
            isPicture ? QStringLiteral("the game shows no squad logo without it")
                      : QStringLiteral("the squad file names it in its head, and browsers need "
                                       "it to show the squad page");
        if (!response.answered) {
            add(finding(QStringLiteral("%1 could not be fetched from %2: %3")
                            .arg(what, url.toDisplayString(), response.error)));
        } else if (response.status != 200) {
            // The plain name, with or without the "?" of the file's own head, lies beside it.
            const bool beside = url.adjusted(QUrl::RemoveQuery) ==
                                besideSquadFile(name).adjusted(QUrl::RemoveQuery);
            add(finding(QStringLiteral("%1 is missing %2 (the server answers \"%3\" at %4); %5. "
                                       "Upload it with the squad.")
                            .arg(what,
                                 beside ? QStringLiteral("beside the squad file")
                                        : QStringLiteral("where the squad file names it"),
                                 statusText(response), url.toDisplayString(), why)));
        } else if (response.truncated) {
            add(finding(QStringLiteral("%1 was cut short: the server announced %2 bytes and sent "
                                       "%3.")
                            .arg(what, QString::number(response.contentLength),
                                 QString::number(response.body.size()))));
        } else if (response.body.isEmpty()) {
            add(finding(
                QStringLiteral("%1 is empty on the server; %2. Upload it again.").arg(what, why)));
        } else if (isPicture && m_request.pictures) {
            for (const Finding &f : m_request.pictures->inspect(name, response.body))
                add({f.kind, -1, std::nullopt, std::nullopt, f.message});
        }
        return true;
    }

    void checkCounterpart(const WebResponse &squadFile, const BodyPrint &squadPrint) {
        const QUrl url = counterpartAddress(m_request.address);
        const WebResponse response = fetch(url);
        if (response.cancelled)
            return;
        const QString where = url.toDisplayString();
        const QString scheme = url.scheme();
        if (!response.answered) {
            add(hint(QStringLiteral("Over %1 the squad file cannot be fetched (%2): %3")
                         .arg(scheme, where, response.error)));
        } else if (isRedirect(response.status)) {
            add(hint(QStringLiteral("Over %1 the server redirects (%2) to %3; a client that asks "
                                    "at %4 and does not follow redirects gets no squad.")
                         .arg(scheme, statusText(response),
                              response.location.isEmpty() ? QStringLiteral("nowhere")
                                                          : response.location,
                              where)));
        } else if (response.status != 200) {
            add(hint(QStringLiteral("Over %1 the server answers \"%2\" at %3; a client that asks "
                                    "there gets no squad.")
                         .arg(scheme, statusText(response), where)));
        } else if (squadFile.answered && squadFile.status == 200) {
            const BodyPrint print = printOf(response.body);
            if (print.size != squadPrint.size || print.hash != squadPrint.hash)
                add(hint(QStringLiteral("Over %1 the server sends another file than at %2 (%3): "
                                        "one of the two is an old copy.")
                             .arg(scheme, m_request.address.toDisplayString(), where)));
        } else {
            add(hint(
                QStringLiteral("Over %1 the squad file does answer, at %2.").arg(scheme, where)));
        }
    }

    const CheckRequest &m_request;
    WebFetcher &m_fetcher;
    const std::function<void(const FetchedFile &)> &m_fileFetched;
    CheckReport m_report;
};

} // namespace

QString FetchedFile::line() const {
    if (!answered)
        return QStringLiteral("%1: not fetched: %2").arg(url, error);
    const QString status = reason.isEmpty()
                               ? QString::number(this->status)
                               : QStringLiteral("%1 %2").arg(QString::number(this->status), reason);
    return QStringLiteral("%1: %2, %3, %4 bytes")
        .arg(url, status, contentType.isEmpty() ? QStringLiteral("no content type") : contentType,
             QString::number(size));
}

std::optional<QUrl> parseAddress(const QString &text, QString *error) {
    const QString trimmed = text.trimmed();
    const auto fail = [&](const QString &why) -> std::optional<QUrl> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (trimmed.isEmpty())
        return fail(QStringLiteral("No address was given."));
    // "http:/host/x" is a typo, not an address on the host "http"; "host:8080/x" names a port.
    static const QRegularExpression schemeWithoutSlashes(
        QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):(?!\\d+(/|$))"));
    if (const QRegularExpressionMatch typo = schemeWithoutSlashes.match(trimmed);
        typo.hasMatch() && !trimmed.contains(QStringLiteral("://"))) {
        const QString scheme = typo.captured(1).toLower();
        if (scheme == u"http" || scheme == u"https")
            return fail(QStringLiteral("\"%1\" is no web address: write %2:// with both slashes.")
                            .arg(trimmed, scheme));
        return fail(QStringLiteral("\"%1\" is no web address: a published squad is fetched with "
                                   "http:// or https:// only.")
                        .arg(trimmed));
    }
    const QString withScheme =
        trimmed.contains(QStringLiteral("://")) ? trimmed : QStringLiteral("http://") + trimmed;
    // Parsed as it stands: QUrl::fromUserInput would take an address it cannot parse for one
    // without a scheme and make "http" its host.
    QUrl url(withScheme, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https")
        return fail(QStringLiteral("The address \"%1\" starts with \"%2://\"; a published squad is "
                                   "fetched with http:// or https:// only.")
                        .arg(trimmed, scheme));
    if (!url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("\"%1\" is no web address.").arg(trimmed));
    if (url.path().isEmpty() || url.path().endsWith(u'/'))
        return fail(QStringLiteral("The address \"%1\" names a folder; add the squad file's name, "
                                   "for example %2squad.xml.")
                        .arg(trimmed, url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment |
                                                   QUrl::StripTrailingSlash) +
                                          u'/'));
    url.setFragment(QString());
    return url;
}

QUrl counterpartAddress(const QUrl &address) {
    QUrl other = address;
    other.setScheme(address.scheme() == u"https" ? QStringLiteral("http")
                                                 : QStringLiteral("https"));
    other.setPort(-1);
    return other;
}

CheckReport checkPublished(const CheckRequest &request, WebFetcher &fetcher,
                           const std::function<void(const FetchedFile &)> &fileFetched) {
    return Check(request, fetcher, fileFetched).run();
}

} // namespace publish
