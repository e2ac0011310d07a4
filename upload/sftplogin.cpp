#include "sftpconnection.h"

#include "knownhosts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <chrono>
#include <cstring>

#include <poll.h>

namespace upload {
namespace {

// The key files ssh itself tries when none is named, in its order.
const char *const defaultKeyFiles[] = {"id_ed25519", "id_ecdsa", "id_rsa"};
// ssh too gives a key three chances at its passphrase.
constexpr int passphraseTries = 3;

struct SshKey {
    ssh_key key = nullptr;
    ~SshKey() { ssh_key_free(key); }
};

QString methodNames(int methods) {
    const std::pair<int, const char *> names[] = {
        {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},
        {SSH_AUTH_METHOD_PASSWORD, "password"},
        {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"},
        {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
        {SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic"},
    };
    QStringList offered;
    for (const auto &[method, name] : names) {
        if (methods & method)
            offered << QLatin1String(name);
    }
    return offered.isEmpty() ? QStringLiteral("no method Troopbook knows")
                             : offered.join(QStringLiteral(", "));
}

} // namespace

// What one login tried, for the message when nothing was accepted.
struct SftpSession::LoginAttempt {
    bool agentAsked = false;
    QStringList keyFilesTried;
    // Keys left out because their passphrase was not given.
    QStringList keyFilesSkipped;
    // Keys that could not be read at all, with libssh's reason.
    QStringList keyFilesUnreadable;
    // Set by the passphrase callback for the key being opened.
    const KeyPassphrase *asking = nullptr;
    bool passphraseAsked = false;
    bool passphraseRefused = false;
    SftpSession *session = nullptr;

    // Where the keys tried came from, as the messages name them: "the agent or of ~/.ssh".
    QString keySources() const {
        QStringList sources;
        if (agentAsked)
            sources << QStringLiteral("the agent");
        if (!keyFilesTried.isEmpty())
            sources << QStringLiteral("~/.ssh");
        return sources.join(QStringLiteral(" or of "));
    }
};

CommandResult SftpSession::logIn(const Connection &connection) {
    const ssh_session ssh = connection.ssh;
    reportState(RequestSent);
    int status = ssh_userauth_none(ssh, nullptr);
    if (status == SSH_AUTH_SUCCESS)
        return {};
    if (status != SSH_AUTH_DENIED && status != SSH_AUTH_PARTIAL)
        return failed(alive(&connection) ? serverText(&connection) : brokenText(&connection));
    LoginAttempt attempt;
    attempt.session = this;
    int methods = ssh_userauth_list(ssh, nullptr);
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        status = logInWithKeys(connection, attempt);
        if (status == SSH_AUTH_SUCCESS)
            return {};
        if (status == SSH_AUTH_ERROR)
            return failed(alive(&connection) ? serverText(&connection) : brokenText(&connection));
        // A key that was enough for part of the login leaves the rest to the password.
        methods = ssh_userauth_list(ssh, nullptr);
    }
    const bool takesPassword = methods & (SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);
    if (!takesPassword || m_password.isEmpty())
        return loginRefused(methods, attempt);
    if (methods & SSH_AUTH_METHOD_PASSWORD)
        status = ssh_userauth_password(ssh, nullptr, m_password.constData());
    else
        status = keyboardInteractive(connection);
    if (!m_loginQuestion.isEmpty())
        return failed(std::exchange(m_loginQuestion, QString()));
    switch (status) {
    case SSH_AUTH_SUCCESS:
        return {};
    case SSH_AUTH_DENIED: {
        char *user = nullptr;
        ssh_options_get(ssh, SSH_OPTIONS_USER, &user);
        const QString name = QString::fromUtf8(user);
        ssh_string_free_char(user);
        const QString sources = attempt.keySources();
        return failed(
            QStringLiteral("The server refused the login of \"%1\": the user name or "
                           "the password is wrong%2.")
                .arg(name, sources.isEmpty()
                               ? QString()
                               : QStringLiteral(", and no key of %1 was accepted").arg(sources)));
    }
    case SSH_AUTH_PARTIAL:
        return failed(QStringLiteral(
            "The SFTP server asks for more than the password to log in, which Troopbook cannot "
            "give."));
    default:
        return failed(alive(&connection) ? serverText(&connection) : brokenText(&connection));
    }
}

int SftpSession::logInWithKeys(const Connection &connection, LoginAttempt &attempt) {
    // libssh asks an agent only where SSH_AUTH_SOCK names one.
    if (!qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK")) {
        attempt.agentAsked = true;
        const int status = ssh_userauth_agent(connection.ssh, nullptr);
        if (status != SSH_AUTH_DENIED)
            return status;
    }
    for (const char *name : defaultKeyFiles) {
        const QString path = userSshDirectory() + u'/' + QLatin1String(name);
        if (!QFileInfo(path).isFile())
            continue;
        const int status = logInWithKeyFile(connection, path, attempt);
        if (status != SSH_AUTH_DENIED || m_cancelled)
            return m_cancelled ? int(SSH_AUTH_ERROR) : status;
    }
    return SSH_AUTH_DENIED;
}

int SftpSession::logInWithKeyFile(const Connection &connection, const QString &path,
                                  LoginAttempt &attempt) {
    const ssh_session ssh = connection.ssh;
    const QString shown = QStringLiteral("~/.ssh/") + QFileInfo(path).fileName();
    attempt.keyFilesTried << shown;
    // With the public half beside it, the server says whether it takes the key before anyone is
    // asked for a passphrase.
    SshKey publicKey;
    if (ssh_pki_import_pubkey_file(QFile::encodeName(path + QStringLiteral(".pub")).constData(),
                                   &publicKey.key) == SSH_OK) {
        const int offered = ssh_userauth_try_publickey(ssh, nullptr, publicKey.key);
        if (offered != SSH_AUTH_SUCCESS)
            return offered;
    }
    const auto callback = [](const char *, char *buffer, size_t length, int, int,
                             void *userdata) -> int {
        auto *attempt = static_cast<LoginAttempt *>(userdata);
        SftpSession *session = attempt->session;
        attempt->passphraseAsked = true;
        if (!session->m_passphraseQuestion || session->m_cancelled) {
            attempt->passphraseRefused = true;
            return -1;
        }
        // The user may take their time.
        session->m_watchdog.pause();
        std::optional<QByteArray> passphrase = session->m_passphraseQuestion(*attempt->asking);
        session->touch();
        if (!passphrase || session->m_cancelled || size_t(passphrase->size()) >= length) {
            attempt->passphraseRefused = true;
            return -1;
        }
        std::memcpy(buffer, passphrase->constData(), size_t(passphrase->size()));
        buffer[passphrase->size()] = '\0';
        passphrase->fill('\0');
        return 0;
    };
    SshKey privateKey;
    const QByteArray file = QFile::encodeName(path);
    for (int round = 0; round < passphraseTries; ++round) {
        const KeyPassphrase asking{shown, round > 0};
        attempt.asking = &asking;
        attempt.passphraseAsked = false;
        attempt.passphraseRefused = false;
        const int imported = ssh_pki_import_privkey_file(file.constData(), nullptr, callback,
                                                         &attempt, &privateKey.key);
        attempt.asking = nullptr;
        if (imported == SSH_OK)
            break;
        if (attempt.passphraseRefused) {
            attempt.keyFilesSkipped << shown;
            return SSH_AUTH_DENIED;
        }
        if (!attempt.passphraseAsked) {
            attempt.keyFilesUnreadable << shown;
            return SSH_AUTH_DENIED;
        }
    }
    if (!privateKey.key) {
        attempt.keyFilesSkipped << shown;
        return SSH_AUTH_DENIED;
    }
    return ssh_userauth_publickey(ssh, nullptr, privateKey.key);
}

CommandResult SftpSession::loginRefused(int methods, const LoginAttempt &attempt) {
    const bool takesKeys = methods & SSH_AUTH_METHOD_PUBLICKEY;
    const bool takesPassword = methods & (SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);
    if (!takesKeys && !takesPassword)
        return failed(QStringLiteral("The server takes %1; Troopbook logs in with a key or a "
                                     "password only.")
                          .arg(methodNames(methods)));
    QStringList why;
    if (takesKeys) {
        const QString sources = attempt.keySources();
        if (sources.isEmpty())
            why << QStringLiteral("no ssh-agent runs (SSH_AUTH_SOCK) and ~/.ssh holds no "
                                  "id_ed25519, id_ecdsa or id_rsa");
        else
            why << QStringLiteral("no key of %1 was accepted").arg(sources);
        if (!attempt.keyFilesSkipped.isEmpty())
            why << QStringLiteral("%1 could not be opened without the passphrase")
                       .arg(attempt.keyFilesSkipped.join(QStringLiteral(", ")));
        if (!attempt.keyFilesUnreadable.isEmpty())
            why << QStringLiteral("%1 could not be read as a key")
                       .arg(attempt.keyFilesUnreadable.join(QStringLiteral(", ")));
    }
    if (takesPassword)
        why << QStringLiteral("no password was given");
    const QString last = why.takeLast();
    QString reasons = why.join(QStringLiteral(", "));
    if (!reasons.isEmpty())
        reasons += QStringLiteral(" and ");
    return failed(
        QStringLiteral("The server takes %1; %2%3.").arg(methodNames(methods), reasons, last));
}

int SftpSession::keyboardInteractiveStep(const Connection &connection) {
    const ssh_session ssh = connection.ssh;
    // libssh drops a request it will not take (more than 256 prompts, a packet too large) with
    // an error of its own and goes on waiting for the time-out; asked without blocking, it
    // shows that error at once.
    const QByteArray earlier = ssh_get_error(ssh);
    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    ssh_set_blocking(ssh, 0);
    int status = SSH_AUTH_AGAIN;
    while ((status = ssh_userauth_kbdint(ssh, nullptr, nullptr)) == SSH_AUTH_AGAIN) {
        if (const QByteArray error = ssh_get_error(ssh); error != earlier && !error.isEmpty()) {
            m_loginQuestion = QStringLiteral("The SFTP server asked for more than the password to "
                                             "log in, which Troopbook cannot answer (%1).")
                                  .arg(QString::fromUtf8(error));
            status = SSH_AUTH_ERROR;
            break;
        }
        if (m_cancelled || std::chrono::steady_clock::now() > deadline) {
            status = SSH_AUTH_ERROR;
            break;
        }
        pollfd ready{ssh_get_fd(ssh), POLLIN, 0};
        ::poll(&ready, 1, 100);
    }
    ssh_set_blocking(ssh, 1);
    return status;
}

int SftpSession::keyboardInteractive(const Connection &connection) {
    const ssh_session ssh = connection.ssh;
    int status = keyboardInteractiveStep(connection);
    // The password is given once, at the one hidden prompt a server asks it at. Anything else
    // (questions shown as typed, several at once, the password asked again) ends the login at
    // once with what was asked: Troopbook has nothing else to answer, and a server that keeps
    // asking would hold the login until the time-out.
    bool answered = false;
    for (int messages = 0; status == SSH_AUTH_INFO;) {
        const int prompts = ssh_userauth_kbdint_getnprompts(ssh);
        if (prompts == 0 && ++messages <= 4) {
            status = keyboardInteractiveStep(connection);
            continue;
        }
        char echo = 0;
        const QString first = prompts > 0
                                  ? QString::fromUtf8(ssh_userauth_kbdint_getprompt(ssh, 0, &echo))
                                  : QString();
        QString shown = first.simplified();
        if (shown.size() > 60)
            shown = shown.left(57) + QStringLiteral("...");
        if (prompts == 1 && !echo && !answered) {
            ssh_userauth_kbdint_setanswer(ssh, 0, m_password.constData());
            answered = true;
            status = keyboardInteractiveStep(connection);
            continue;
        }
        if (prompts == 1 && !echo)
            m_loginQuestion = QStringLiteral("The SFTP server asked for the password again after "
                                             "it was given (\"%1\"): the user name or the "
                                             "password may be wrong.")
                                  .arg(shown);
        else
            m_loginQuestion =
                QStringLiteral("The SFTP server asked for more than the password to log in, "
                               "which Troopbook cannot answer: %1 (\"%2\"%3).")
                    .arg(prompts == 1 ? QStringLiteral("a question shown as it is typed")
                                      : QStringLiteral("%1 questions at once").arg(prompts),
                         shown, prompts > 1 ? QStringLiteral(", ...") : QString());
        return SSH_AUTH_ERROR;
    }
    return status;
}

} // namespace upload
