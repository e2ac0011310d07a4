// An SFTP server on loopback for the upload tests, by asyncssh: the server's root is a
// temporary directory, the user "squad" with the password "secret" its only account. It logs
// the file operations it receives and ends with its fixture, or by itself after two minutes.
#pragma once

#include "ftpservers.h"

#include <QCryptographicHash>

namespace testftp {

struct SftpOptions {
    QString home = QString(); // login directory below the root
    // Servers given the same file present the same host key; empty: a key of their own.
    QString keyFile = QString();
    bool noPosixRename = false;
    // Offers posix-rename@openssh.com but answers it as unsupported.
    bool refusePosixRename = false;
    // Asks for the password at a keyboard-interactive prompt instead.
    bool keyboardInteractive = false;
    // Takes the public keys in this file as well (OpenSSH's authorized_keys format).
    QString authorizedKeys = QString();
    // Takes a key only, no password.
    bool keysOnly = false;
    // Answers each write into a file a twentieth of a second late.
    bool slowWrites = false;
    // Once: "drop-in-write", "drop-in-rename" or "stall-in-write" (see sftpserver.py).
    QString fault = QString();
    // Always: "drop-writes", "fail-posix-rename", "many-prompts", "huge-prompt", "many-rounds",
    // "visible-prompt" or "silent-goodbye" (see sftpserver.py).
    QString misbehave = QString();
};

class SftpServer : public ScriptServer {
public:
    explicit SftpServer(const SftpOptions &options = SftpOptions()) {
        QStringList arguments{QStringLiteral("--key-file"),
                              options.keyFile.isEmpty() ? filePath(QStringLiteral("host_key"))
                                                        : options.keyFile};
        if (!options.home.isEmpty())
            arguments << QStringLiteral("--home") << options.home;
        if (options.keyboardInteractive)
            arguments << QStringLiteral("--keyboard-interactive");
        if (!options.authorizedKeys.isEmpty())
            arguments << QStringLiteral("--authorized-keys") << options.authorizedKeys;
        if (options.slowWrites)
            arguments << QStringLiteral("--slow-writes");
        if (options.keysOnly)
            arguments << QStringLiteral("--keys-only");
        if (options.refusePosixRename)
            arguments << QStringLiteral("--refuse-posix-rename");
        if (options.noPosixRename)
            arguments << QStringLiteral("--no-posix-rename");
        if (!options.fault.isEmpty())
            arguments << QStringLiteral("--fault") << options.fault;
        if (!options.misbehave.isEmpty())
            arguments << QStringLiteral("--misbehave") << options.misbehave;
        start("sftpserver.py", arguments, [this](const QByteArray &line) {
            if (line.startsWith("KEY "))
                m_key = QString::fromLatin1(line.mid(4));
        });
    }

    QString address() const { return QStringLiteral("sftp://127.0.0.1:%1").arg(port()); }
    QStringList operations() const { return logLines(logPath()); }
    // "type base64", as a known_hosts line has it after the host.
    QString publicKey() const { return m_key; }
    QString knownHostsLine() const {
        return QStringLiteral("[127.0.0.1]:%1 %2\n").arg(port()).arg(m_key);
    }
    // The key's SHA-256 fingerprint as ssh shows it.
    QString fingerprint() const {
        const QByteArray blob = QByteArray::fromBase64(m_key.section(u' ', 1).toLatin1());
        return QStringLiteral("SHA256:") +
               QString::fromLatin1(QCryptographicHash::hash(blob, QCryptographicHash::Sha256)
                                       .toBase64(QByteArray::OmitTrailingEquals));
    }

private:
    QString m_key;
};

} // namespace testftp
