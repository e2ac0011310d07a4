// A name lookup nobody waits for any more is left to end on its own thread, but not to outlive
// the application object: its end is checked after the application is gone.
#include "upload/namelookup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::atomic<bool> lookupReturned{false};

} // namespace

class TestLookupAtExit : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aCancelledLookupIsLeftRunning() {
        upload::NameLookup lookup([](const QString &, QString *) {
            std::this_thread::sleep_for(500ms);
            lookupReturned = true;
            return QStringList{QStringLiteral("127.0.0.1")};
        });
        std::thread canceller([&] {
            std::this_thread::sleep_for(50ms);
            lookup.cancel();
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!lookup.run(QStringLiteral("slow.troopbook.invalid"), nullptr));
        canceller.join();
        QVERIFY(clock.elapsed() < 400);
        QVERIFY(!lookupReturned);
    }
};

int main(int argc, char *argv[]) {
    int status = 0;
    {
        QCoreApplication application(argc, argv);
        TestLookupAtExit test;
        status = QTest::qExec(&test, argc, argv);
    }
    if (!lookupReturned) {
        std::fputs("FAIL!  : a name lookup outlived the application object\n", stderr);
        return 1;
    }
    return status;
}

#include "tst_lookupatexit.moc"
