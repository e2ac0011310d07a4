// For the tests that end an upload window while its run waits: the window held as the editor
// holds it, the stalls a run can be caught in, and the two ways a user ends it.
#pragma once

#include "app/uploadwindow.h"
#include "app/uploadworker.h"
#include "ftpservers.h"
#include "ui/commondialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace testftp {

struct EndingUpload {
    // For the "connect" phase the silent server takes no connection at all.
    EndingUpload(const QString &phase, std::function<QString()> pictureName)
        : silent(phase == QLatin1String("connect"))
        , window(new app::UploadWindow(dialogs, std::move(pictureName))) {
        // The editor deletes the window when it is closed.
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    // A failed check must not leave the run behind to show its message in the next one.
    ~EndingUpload() { delete window.data(); }

    // The window's close button, or the editor's Exit, which ends the application's event loop
    // with the window still open; false if the window would not close.
    bool end(bool viaExit) {
        sinceEnd.start();
        if (!viaExit)
            return window->close();
        QCoreApplication::quit();
        return true;
    }
    // The same while no event loop runs: Exit needs the application's, which it then ends.
    bool endFromOutside(bool viaExit) {
        if (!viaExit)
            return end(false);
        QTimer::singleShot(0, qApp, [this] { end(true); });
        QCoreApplication::exec();
        return true;
    }
    static bool noWorkerLeft() { return qApp->findChildren<app::UploadWorker *>().isEmpty(); }

    StalledLookup lookup;
    SilentServer silent;
    ui::CommonDialog dialogs;
    const QPointer<app::UploadWindow> window;
    QElapsedTimer sinceEnd;
};

} // namespace testftp
