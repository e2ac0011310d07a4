#pragma once

#include <QString>

#include <functional>

namespace upload {

// The state numbers the status line shows, in the order a session usually passes them.
enum TransferState : int {
    NoState = 0,
    ResolvingHost = 1,
    HostResolved = 2,
    Connecting = 3,
    Connected = 4,
    SendingRequest = 5,
    RequestSent = 6,
    ReceivingResponse = 7,
    ResponseReceived = 8,
    Disconnecting = 9,
    Disconnected = 10,
    RemoteError = 11,
    ResponseCompleted = 12,
};

// The status line's text for a state number; empty for 0 and unknown numbers.
QString stateText(int state);

struct CommandResult {
    enum Outcome {
        Done,
        // The server turned this command down; the session is still usable.
        Refused,
        // The session is over: connection lost, login refused, time-out, TLS failure, cancel.
        Failed,
    };
    Outcome outcome = Done;
    // Done: the command's result (the directory for printDirectory). Refused: the server's
    // reply or why the local file could not be read. Failed: what went wrong, for the user.
    QString text;
    bool cancelled = false;

    bool ok() const { return outcome == Done; }
};

// An SFTP server whose host key is not recorded yet: what the user is asked to trust.
struct UnknownHostKey {
    // The host as typed, with its port unless that is 22.
    QString server;
    // Where the key is recorded if the user trusts it.
    QString knownHostsFile;
    QString keyType;
    // SHA256:..., as ssh shows it.
    QString fingerprint;
};

// One session with a server, driven one command at a time from a worker thread. The first
// command opens the connection; every later one goes over the same connection.
class Transfer {
public:
    using StateHandler = std::function<void(TransferState state)>;
    // Asked on the session's thread; returns whether the user trusts the server's key.
    using HostKeyQuestion = std::function<bool(const UnknownHostKey &key)>;
    // Something the status line should keep showing after the run, in a few words.
    using NoticeHandler = std::function<void(const QString &notice)>;

    virtual ~Transfer() = default;
    // Called on the session's thread whenever the state number changes.
    virtual void setStateHandler(StateHandler) {}
    virtual void setHostKeyQuestion(HostKeyQuestion) {}
    virtual void setNoticeHandler(NoticeHandler) {}
    // May be called from any other thread and makes the running command end promptly.
    virtual void cancel() {}

    // An empty directory leaves the session in the login directory.
    virtual CommandResult changeDirectory(const QString &directory) = 0;
    virtual CommandResult printDirectory() = 0;
    // Stores the local file under the absolute remote path, in binary.
    virtual CommandResult put(const QString &localPath, const QString &remotePath) = 0;
    // Ends the session politely (QUIT).
    virtual void quit() = 0;
    // Ends the session at once, without QUIT.
    virtual void drop() = 0;
};

} // namespace upload
