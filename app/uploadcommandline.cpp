#include "uploadcommandline.h"

#include "squadfile.h"
#include "terminaltext.h"
#include "uploadtarget.h"

#include "upload/sessionfactory.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace app {
namespace {

using namespace std::chrono_literals;

const QString uploadName = QStringLiteral("upload");
const QString noCheckName = QStringLiteral("no-check");
const QString acceptNewName = QStringLiteral("accept-new-host-key");

// After Ctrl+C the run gets this long to remove its temporary file, then it is cut off; the
// whole stays within a second.
constexpr auto tidyTime = 500ms;
constexpr auto cutOffTime = 400ms;

// A message of the upload, which may span lines, as lines of the program's own.
void printMessage(const QString &text) {
    for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        printLine(stderr, QString(QStringLiteral("troopbook: ") + line));
}

// An eventfd that stays readable once set: wakes whoever polls it from another thread.
class Wakeup {
public:
    Wakeup()
        : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Wakeup() { ::close(m_fd); }
    Wakeup(const Wakeup &) = delete;
    Wakeup &operator=(const Wakeup &) = delete;
    void set() const {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// SIGINT and SIGTERM, blocked in every thread started from here on and read from a descriptor
// instead, so that the run can end tidily.
class Interrupts {
public:
    Interrupts() {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
        m_fd = ::signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~Interrupts() {
        ::close(m_fd);
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    Interrupts(const Interrupts &) = delete;
    Interrupts &operator=(const Interrupts &) = delete;
    int fd() const { return m_fd; }
    void take() const {
        signalfd_siginfo info{};
        [[maybe_unused]] const ssize_t n = ::read(m_fd, &info, sizeof info);
    }

private:
    sigset_t m_signals{};
    sigset_t m_previous{};
    int m_fd = -1;
};

// Waits until `fd` is readable or the time is up; true when it is readable.
bool readable(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, int(timeout.count())) > 0;
}

// Reads a passphrase from the terminal without showing it, as ssh does; nullopt without a
// terminal, or when `interrupted` is set while waiting.
std::optional<QByteArray> askOnTerminal(const QString &prompt, const Wakeup &interrupted) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    termios shown{};
    const bool canHide = ::tcgetattr(tty, &shown) == 0;
    termios hidden = shown;
    hidden.c_lflag &= ~tcflag_t(ECHO);
    if (canHide)
        ::tcsetattr(tty, TCSAFLUSH, &hidden);
    const QByteArray text = prompt.toLocal8Bit();
    [[maybe_unused]] ssize_t n = ::write(tty, text.constData(), size_t(text.size()));
    QByteArray typed;
    bool complete = false;
    while (!complete) {
        pollfd waits[] = {{tty, POLLIN, 0}, {interrupted.fd(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
            break;
        if (waits[1].revents)
            break;
        char c = 0;
        if (::read(tty, &c, 1) != 1)
            break;
        if (c == '\n' || c == '\r')
            complete = true;
        else
            typed += c;
    }
    if (canHide)
        ::tcsetattr(tty, TCSAFLUSH, &shown);
    n = ::write(tty, "\n", 1);
    ::close(tty);
    if (!complete) {
        typed.fill('\0');
        return std::nullopt;
    }
    return typed;
}

// The line on standard error that follows a file while it is sent, on a terminal only.
class ProgressLine {
public:
    ProgressLine()
        : m_shown(::isatty(STDERR_FILENO)) {}
    bool isShown() const { return m_shown; }
    void show(const QString &name, qint64 sent, qint64 total) {
        const auto now = std::chrono::steady_clock::now();
        if (sent < total && name == m_name && now - m_last < 100ms)
            return;
        m_name = name;
        m_last = now;
        const int percent = total > 0 ? int(sent * 100 / total) : 100;
        std::fputs(qPrintable(QStringLiteral("\r\033[K%1: %2 of %3 bytes (%4%)")
                                  .arg(escapeForTerminal(name), QString::number(sent),
                                       QString::number(total), QString::number(percent))),
                   stderr);
        std::fflush(stderr);
        m_dirty = true;
    }
    void clear() {
        if (m_dirty)
            std::fputs("\r\033[K", stderr);
        m_dirty = false;
    }

private:
    const bool m_shown;
    bool m_dirty = false;
    QString m_name;
    std::chrono::steady_clock::time_point m_last;
};

struct UploadCommand {
    QString squadFile;
    QString address;
    bool check = true;
    bool acceptNewHostKey = false;
};

// The password, from the environment or .netrc; the login too when the address names none.
void findPassword(const UploadTarget &target, upload::UploadRequest &request) {
    request.user = target.user;
    const QString fromEnvironment = qEnvironmentVariable("TROOPBOOK_PASSWORD");
    if (!fromEnvironment.isEmpty()) {
        request.password = fromEnvironment;
        return;
    }
    QFile netrc(QDir::homePath() + QStringLiteral("/.netrc"));
    if (!netrc.open(QIODevice::ReadOnly))
        return;
    if (const std::optional<NetrcLogin> login =
            findNetrcLogin(netrc.read(1 << 20), target.machine, target.user)) {
        if (request.user.isEmpty())
            request.user = login->login;
        request.password = login->password;
    }
}

// The squad check, as --check runs it; true when nothing stops the upload.
bool passesCheck(const QString &path, const SquadFileRead &read) {
    const QList<squad::Finding> findings = checkSquadFile(read, path);
    if (!squad::hasProblem(findings))
        return true;
    for (const squad::Finding &f : findings) {
        if (f.kind == squad::Finding::Kind::Problem)
            printLine(stdout, findingLine(path, f, read.data));
    }
    printLine(stderr, QStringLiteral("troopbook: The squad check found problems in %1, so "
                                     "nothing was sent (--no-check sends it anyway).")
                          .arg(path));
    return false;
}

void printUnknownHostKey(const upload::UnknownHostKey &key) {
    printMessage(QStringLiteral("The SFTP server %1 is not known yet: its host key is not "
                                "recorded in %2.\r\nKey type: %3\r\nFingerprint: %4\r\nNothing "
                                "was sent. If this is the server's key (ask whoever runs it), "
                                "run again with --accept-new-host-key to record it.")
                     .arg(key.server, key.knownHostsFile, key.keyType, key.fingerprint));
}

int exitStatus(const upload::UploadOutcome &outcome) {
    if (outcome.cancelled || outcome.files.isEmpty() || !outcome.files.first().stored)
        return 1;
    for (const upload::FileOutcome &file : outcome.files) {
        if (!file.stored)
            return 2;
    }
    return 0;
}

int runUploadCommand(const UploadCommand &command) {
    // Before the first thread starts, so that every thread leaves the signals to us.
    const Interrupts interrupts;
    QString error;
    const std::optional<UploadTarget> target = parseUploadAddress(command.address, &error);
    if (!target) {
        printMessage(error);
        return 1;
    }
    const SquadFileRead read = readSquadFile(command.squadFile);
    if (command.check) {
        if (!read.ok) {
            printMessage(read.error);
            return 1;
        }
        if (!passesCheck(command.squadFile, read))
            return 2;
    }
    const QFileInfo squadFile(command.squadFile);
    upload::UploadRequest request;
    request.host = target->host;
    request.remoteDirectory = target->remoteDirectory;
    request.localDirectory = squadFile.absolutePath() + u'/';
    request.squadFile = squadFile.fileName();
    // Unread with --no-check and a file that cannot be read: the upload names what is wrong.
    request.pictureName = read.data.property(squad::Property::Picture);
    findPassword(*target, request);
    if (const std::optional<upload::UploadMessage> problem = upload::checkFields(request)) {
        printMessage(problem->text);
        return 1;
    }

    if (readable(interrupts.fd(), 0ms)) {
        printLine(stderr, QStringLiteral("troopbook: Interrupted; nothing was sent."));
        return 1;
    }
    const Wakeup interrupted;
    const Wakeup finished;
    const std::unique_ptr<upload::ServerSession> session = upload::makeSession(request, {}, &error);
    if (!session) {
        printMessage(error);
        return 1;
    }
    std::optional<upload::UnknownHostKey> refusedKey;
    session->setHostKeyQuestion([&](const upload::UnknownHostKey &key) {
        if (!command.acceptNewHostKey) {
            refusedKey = key;
            return false;
        }
        printLine(stderr, QStringLiteral("troopbook: Recorded the host key of %1 in %2: %3 %4")
                              .arg(key.server, key.knownHostsFile, key.keyType, key.fingerprint));
        return true;
    });
    session->setPassphraseQuestion([&](const upload::KeyPassphrase &key) {
        const QString prompt = QStringLiteral("Passphrase for the key %1: ").arg(key.keyFile);
        return askOnTerminal(key.again ? QStringLiteral("Wrong passphrase. ") + prompt : prompt,
                             interrupted);
    });
    ProgressLine progress;
    if (progress.isShown())
        session->setProgressHandler([&progress](const QString &name, qint64 sent, qint64 total) {
            progress.show(name, sent, total);
        });

    upload::UploadOutcome outcome;
    std::thread worker([&] {
        outcome = upload::runUpload(request, *session);
        finished.set();
    });
    bool wasInterrupted = false;
    for (;;) {
        pollfd waits[] = {{finished.fd(), POLLIN, 0}, {interrupts.fd(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
            break;
        if (waits[0].revents)
            break;
        if (waits[1].revents) {
            interrupts.take();
            wasInterrupted = true;
            interrupted.set();
            session->cancelTidily();
            // A second Ctrl+C does not wait for the tidying.
            pollfd again[] = {{finished.fd(), POLLIN, 0}, {interrupts.fd(), POLLIN, 0}};
            ::poll(again, 2, int(tidyTime.count()));
            if (!again[0].revents)
                session->cancel();
            if (!readable(finished.fd(), cutOffTime)) {
                progress.clear();
                printLine(stderr, QStringLiteral("troopbook: Interrupted."));
                std::fflush(stdout);
                std::fflush(stderr);
                std::_Exit(1);
            }
            break;
        }
    }
    worker.join();
    progress.clear();

    if (refusedKey) {
        printUnknownHostKey(*refusedKey);
        return 1;
    }
    for (const upload::FileOutcome &file : outcome.files) {
        // The root's reply "/" makes "//squad.xml" of the path; the server reads it as one.
        QString path = file.remotePath;
        while (path.startsWith(QStringLiteral("//")))
            path.remove(0, 1);
        if (file.stored)
            printLine(stdout, QStringLiteral("%1: stored as %2").arg(file.name, path));
        else
            printLine(stdout, QStringLiteral("%1: not stored: %2").arg(file.name, file.reason));
    }
    if (wasInterrupted || outcome.cancelled) {
        printLine(stderr, QStringLiteral("troopbook: Interrupted; nothing more was sent."));
        return 1;
    }
    if (outcome.files.isEmpty()) {
        for (const upload::UploadMessage &message : outcome.messages)
            printMessage(message.text);
    }
    return exitStatus(outcome);
}

} // namespace

void addUploadOptions(QCommandLineParser &parser) {
    parser.addOption(QCommandLineOption(
        uploadName,
        QStringLiteral(
            "Check the squad file <squadfile>, then send it with squad.dtd, squad.xsl and the "
            "picture beside it to the address given after it, as the upload window does: "
            "ftp://, ftps://, ftpes:// or sftp://, with an optional user@, port and remote "
            "directory (sftp://clan@example.org:2222/www/squad). The password comes from "
            "TROOPBOOK_PASSWORD or ~/.netrc, never from the address; SFTP logs in with the keys "
            "of ssh-agent and ~/.ssh first. Prints a line per file. Exit 0 when every file was "
            "stored, 2 when the squad check found a problem (nothing is sent) or a companion "
            "was not stored, 1 when the squad file was not stored."),
        QStringLiteral("squadfile")));
    parser.addOption(QCommandLineOption(
        noCheckName, QStringLiteral("With --upload: send the squad file without checking it.")));
    parser.addOption(QCommandLineOption(
        acceptNewName,
        QStringLiteral("With --upload to sftp://: trust a server whose host key is not in "
                       "~/.ssh/known_hosts yet and record its key there. A key that differs "
                       "from the recorded one is refused all the same.")));
}

bool isUploadCommand(const QCommandLineParser &parser) {
    return parser.isSet(uploadName) || parser.isSet(noCheckName) || parser.isSet(acceptNewName);
}

int uploadCommand(const QCommandLineParser &parser) {
    if (!parser.isSet(uploadName)) {
        printLine(stderr, u"troopbook: --no-check and --accept-new-host-key go with --upload");
        return 1;
    }
    const QStringList addresses = parser.positionalArguments();
    if (addresses.size() != 1) {
        printLine(stderr, u"troopbook: --upload takes the squad file and one address, for example "
                          u"troopbook --upload squad.xml sftp://clan@example.org/www/squad");
        return 1;
    }
    return runUploadCommand({parser.value(uploadName), addresses.first(),
                             !parser.isSet(noCheckName), parser.isSet(acceptNewName)});
}

} // namespace app
