#include "knownhosts.h"

#include <QDir>

namespace upload {
namespace {

QString sshError(ssh_session ssh) {
    return QString::fromUtf8(ssh_get_error(ssh));
}

} // namespace

HostKeyCheck checkHostKey(ssh_session ssh) {
    HostKeyCheck check;
    switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK:
        check.status = HostKeyCheck::Known;
        return check;
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
