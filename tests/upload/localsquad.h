// The local side of the upload tests: the files a run sends, and what it told the user.
#pragma once

#include "ftpservers.h"
#include "upload/uploadsequence.h"

#include <QHash>
#include <QRandomGenerator>

namespace testftp {

inline QStringList messageTexts(const upload::UploadOutcome &outcome) {
    QStringList texts;
    for (const upload::UploadMessage &m : outcome.messages)
        texts << m.text;
    return texts;
}

// A squad file, its two companions and a picture in a temporary directory. The picture holds
// random bytes and ends in line ends and NULs, which must arrive untouched: the transfer is
// binary.
class LocalSquad {
public:
    explicit LocalSquad(int pictureSize) {
        m_files["squad.xml"] = "<?xml version=\"1.0\"?>\r\n<squad nick=\"TB\">\r\n</squad>\r\n";
        m_files["squad.dtd"] = "<!ELEMENT squad (name)>\r\n";
        m_files["squad.xsl"] = "<xsl:stylesheet/>\n";
        QByteArray picture(pictureSize, Qt::Uninitialized);
        for (char &c : picture)
            c = char(QRandomGenerator::global()->bounded(256));
        m_files["logo.paa"] = picture + QByteArray("\r\n\n\0\r", 5);
        m_valid = m_dir.isValid();
        for (auto it = m_files.cbegin(); m_valid && it != m_files.cend(); ++it)
            m_valid = writeFile(filePath(it.key()), it.value());
    }

    bool isValid() const { return m_valid; }
    // With its trailing "/", as the upload window's field has it.
    QString directory() const { return m_dir.path() + u'/'; }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QByteArray bytes(const QString &name) const { return m_files.value(name); }

    // All four into `remote` on `host`, as the test servers' user "squad".
    upload::UploadRequest request(const QString &host, const QString &remote) const {
        return {host,        QStringLiteral("squad"),     QStringLiteral("secret"),  remote,
                directory(), QStringLiteral("squad.xml"), QStringLiteral("logo.paa")};
    }

private:
    QTemporaryDir m_dir;
    QHash<QString, QByteArray> m_files;
    bool m_valid = false;
};

} // namespace testftp
