#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

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

// A key file protected by a passphrase, met while logging in to an SFTP server.
struct KeyPassphrase {
    // As the user knows it: ~/.ssh/id_ed25519.
    QString keyFile;
    // The passphrase given for this key before did not open it.
    bool again = false;
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
    // Asked on the session's thread; the passphrase, or nullopt to go on without that key.
    using PassphraseQuestion = std::function<std::optional<QByteArray>(const KeyPassphrase &key)>;
    // How much of the file being stored has gone: its name, the bytes sent and its size.
    using ProgressHandler = std::function<void(const QString &name, qint64 sent, qint64 total)>;

    virtual ~Transfer() = default;
    // Called on the session's thread whenever the state number changes.
    virtual void setStateHandler(StateHandler) {}
    virtual void setHostKeyQuestion(HostKeyQuestion) {}
    virtual void setNoticeHandler(NoticeHandler) {}
    virtual void setPassphraseQuestion(PassphraseQuestion) {}
    virtual void setProgressHandler(ProgressHandler) {}
    // May be called from any other thread and makes the running command end promptly.
    virtual void cancel() {}
    // Like cancel(), but a file being written under a temporary name is removed from the server
    // first where the connection allows; the caller may follow with cancel() if it takes too long.
    virtual void cancelTidily() { cancel(); }

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
