// Runs the troopbook program as a separate process. Needs TROOPBOOK_BINARY, its path.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

namespace testrun {

struct Run {
    // -1 when the program crashed or did not end in time.
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs troopbook where no display can be reached, as a packaging script or a CI job would.
inline Run troopbook(const QStringList &arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TROOPBOOK_BINARY), arguments);
    // Long enough for a check of a published squad that meets a server's time-outs.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace testrun
