#include "sftpextensions.h"

#include <libssh/libssh.h>

namespace upload {

bool offersPosixRename(sftp_session sftp) {
    return sftp_extension_supported(sftp, "posix-rename@openssh.com", "1");
}

#if LIBSSH_VERSION_INT >= SSH_VERSION_INT(0, 11, 0)

// From 0.11 on, libssh's own rename sends the extension whenever the server offers it.
int posixRename(sftp_session sftp, const QByteArray &from, const QByteArray &to, int) {
    if (sftp_rename(sftp, from.constData(), to.constData()) == SSH_OK)
        return SSH_FX_OK;
    const int status = sftp_get_error(sftp);
    return status > 0 ? status : -1;
}

#else

namespace {

void appendUint32(QByteArray &packet, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        packet.append(char((value >> shift) & 0xff));
}

void appendString(QByteArray &packet, const QByteArray &text) {
    appendUint32(packet, quint32(text.size()));
    packet.append(text);
}

quint32 readUint32(const QByteArray &bytes, qsizetype at) {
    quint32 value = 0;
    for (qsizetype i = at; i < at + 4; ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

bool readExactly(ssh_channel channel, QByteArray &into, qsizetype count, int timeoutMs) {
    into.resize(count);
    for (qsizetype done = 0; done < count;) {
        const int n = ssh_channel_read_timeout(channel, into.data() + done, uint32_t(count - done),
                                               0, timeoutMs);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

// libssh 0.10 sends only the plain rename, which servers of protocol version 3 refuse over an
// existing file, so the request goes out here, on libssh's channel and with its request
// counter and error field. Every libssh request before it has had its answer, so the next
// packet on the channel is this one's.
int posixRename(sftp_session sftp, const QByteArray &from, const QByteArray &to, int timeoutMs) {
    constexpr char extendedRequest = char(200);
    constexpr quint8 statusReply = 101;
    const quint32 id = ++sftp->id_counter;
    QByteArray body;
    body.append(extendedRequest);
    appendUint32(body, id);
    appendString(body, "posix-rename@openssh.com");
    appendString(body, from);
    appendString(body, to);
    QByteArray packet;
    appendUint32(packet, quint32(body.size()));
    packet.append(body);
    if (ssh_channel_write(sftp->channel, packet.constData(), uint32_t(packet.size())) !=
        int(packet.size()))
        return -1;
    QByteArray reply;
    if (!readExactly(sftp->channel, reply, 4, timeoutMs))
        return -1;
    const quint32 length = readUint32(reply, 0);
    if (length < 9 || length > 65536 || !readExactly(sftp->channel, reply, length, timeoutMs))
        return -1;
    if (quint8(reply[0]) != statusReply || readUint32(reply, 1) != id)
        return -1;
    const int status = int(readUint32(reply, 5));
    sftp->errnum = status;
    return status;
}

#endif

} // namespace upload
