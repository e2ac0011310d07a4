#include "knownhosts.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <sys/stat.h>

namespace upload {
namespace {

QString sshError(ssh_session ssh) {
    return QString::fromUtf8(ssh_get_error(ssh));
}

QString optionText(ssh_session ssh, ssh_options_e option) {
    char *value = nullptr;
    if (ssh_options_get(ssh, option, &value) != SSH_OK)
        return {};
    const QString text = QFile::decodeName(value);
    ssh_string_free_char(value);
    return text;
}

// The keys the file marks @revoked, base64 as written; an error when it cannot be read whole.
QList<QByteArray> revokedKeys(const QString &path, QString *error) {
    struct stat status {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || ::stat(name.constData(), &status) != 0) {
        if (!path.isEmpty() && errno != ENOENT)
            *error = QStringLiteral("%1 cannot be read (%2).").arg(path, qt_error_string(errno));
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        *error = QStringLiteral("%1 is a folder, not a file of host keys.").arg(path);
        return {};
    }
    // /dev/null, as a test or a script may give, holds nothing; a FIFO is not waited on.
    if (!S_ISREG(status.st_mode))
        return {};
    if (status.st_size >= largestKnownHostsFile) {
        *error = QStringLiteral("%1 is too large to be read whole (%2 MB; up to %3 MB are read).")
                     .arg(path)
                     .arg(status.st_size / (1024 * 1024))
                     .arg(largestKnownHostsFile / (1024 * 1024));
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read (%2).").arg(path, file.errorString());
        return {};
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1 cannot be read (%2).").arg(path, file.errorString());
        return {};
    }
    QList<QByteArray> keys;
    for (const QByteArray &line : content.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 4 && words[0] == "@revoked")
            keys << words[3];
    }
    return keys;
}

} // namespace

HostKeyCheck checkHostKey(ssh_session ssh) {
    HostKeyCheck check;
    QList<QByteArray> revoked;
    for (const ssh_options_e option : {SSH_OPTIONS_KNOWNHOSTS, SSH_OPTIONS_GLOBAL_KNOWNHOSTS}) {
        revoked += revokedKeys(optionText(ssh, option), &check.error);
        if (!check.error.isEmpty())
            return check;
    }
    switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK:
        check.status = HostKeyCheck::Known;
        break;
    case SSH_KNOWN_HOSTS_ERROR:
        check.error = sshError(ssh);
        return check;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        check.status = HostKeyCheck::Changed;
        break;
    default:
        check.status = HostKeyCheck::Unknown;
        break;
    }
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(ssh, &key) != SSH_OK)
        return check;
    check.keyType = QString::fromUtf8(ssh_key_type_to_char(ssh_key_type(key)));
    char *base64 = nullptr;
    if (ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK) {
        if (revoked.contains(QByteArray(base64)))
            check.status = HostKeyCheck::Revoked;
        ssh_string_free_char(base64);
    }
    unsigned char *hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
        char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
        check.fingerprint = QString::fromUtf8(text);
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);
    return check;
}

QString recordHostKey(ssh_session ssh) {
    return ssh_session_update_known_hosts(ssh) == SSH_OK ? QString() : sshError(ssh);
}

QString userSshDirectory() {
    return QDir::homePath() + QStringLiteral("/.ssh");
}

} // namespace upload
