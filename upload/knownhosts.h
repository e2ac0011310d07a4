#pragma once

#include <QString>

#include <libssh/libssh.h>

namespace upload {

// The server's host key held against the known-hosts files of a connected SSH session. Words
// no question: whoever asks the user does that.
struct HostKeyCheck {
    enum Status {
        Known,
        // Not recorded: the user may trust it.
        Unknown,
        // Another key is recorded for this server.
        Changed,
        // The key is marked @revoked: never to be trusted.
        Revoked,
        // The files could not be read whole; `error` says why.
        Failed,
    };
    Status status = Failed;
    QString keyType;
    // SHA256:..., as ssh shows it; empty when the server's key could not be had.
    QString fingerprint;
    QString error;
};

// Beyond what libssh checks: a known-hosts file that cannot be read whole (a folder, unreadable,
// larger than this) fails the check rather than leave a recorded key unseen, and a key marked
// @revoked is refused whatever else is recorded. (@cert-authority lines record no host's key,
// and libssh takes them for none.)
constexpr qint64 largestKnownHostsFile = 16 * 1024 * 1024;
HostKeyCheck checkHostKey(ssh_session ssh);

// Records the server's key in the session's known-hosts file; empty, else why not.
QString recordHostKey(ssh_session ssh);

// The known-hosts file of the user whose home is $HOME, not the password database's: a HOME
// set for a CI job holds that job's known hosts and keys.
QString userSshDirectory();

} // namespace upload
