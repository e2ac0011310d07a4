#pragma once

#include <QByteArray>

#include <libssh/sftp.h>

namespace upload {

// Whether the server offers OpenSSH's posix-rename@openssh.com, which replaces an existing
// target in one step.
bool offersPosixRename(sftp_session sftp);

// Renames `from` over an existing `to` with posix-rename@openssh.com. Returns an SSH_FX_ status,
// or -1 when the connection can no longer be trusted.
int posixRename(sftp_session sftp, const QByteArray &from, const QByteArray &to, int timeoutMs);

} // namespace upload
