#pragma once

#include <QString>

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

// One FTP session, driven one command at a time from a worker thread. The first command opens
// the connection; every later one goes over the same control connection.
class Transfer {
public:
    virtual ~Transfer() = default;
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
