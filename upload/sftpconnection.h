#pragma once

#include "sftpsession.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

namespace upload {

// One SSH connection with its SFTP channel. The socket is ours; libssh works on a duplicate of
// it, so shutting ours down from another thread ends whatever libssh waits for, and libssh
// closing its descriptor on an error never frees a number that cancel() might still use.
struct SftpSession::Connection {
    int socketFd = -1;
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    // A request of our own went wrong half-way; the channel can no longer be trusted.
    bool broken = false;
};

struct SshString {
    char *text = nullptr;
    ~SshString() { ssh_string_free_char(text); }
    QString toString() const { return text ? QString::fromUtf8(text) : QString(); }
};

} // namespace upload
