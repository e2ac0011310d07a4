// The helpers every library uses: a job off the GUI thread that its owner can delete or abandon
// at any moment, and the words for counts and time-outs.
#include "base/backgroundjob.h"
#include "base/wording.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

// Posts `posts` calls, then waits until released or cancelled.
class HeldJob : public base::BackgroundJob {
    Q_OBJECT
public:
    explicit HeldJob(int posts, QObject *parent = nullptr)
        : BackgroundJob(parent)
        , m_posts(posts) {}
    ~HeldJob() override { stop(); }

    void cancel() override {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    bool wasCancelled() {
        std::lock_guard lock(m_mutex);
        return m_cancelled;
    }

Q_SIGNALS:
    void posted(int n);

protected:
    void run() override {
        for (int i = 0; i < m_posts; ++i)
            post([this, i] { Q_EMIT posted(i); });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_released || m_cancelled; });
    }

private:
    const int m_posts;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    bool m_cancelled = false;
};

} // namespace

class TestBase : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aJobReportsOnItsOwnersThreadThenFinishes() {
        HeldJob job(3);
        QList<int> seen;
        connect(&job, &HeldJob::posted, this, [&](int n) {
            QCOMPARE(QThread::currentThread(), thread());
            seen << n;
        });
        QSignalSpy finished(&job, &base::BackgroundJob::finished);
        job.start();
        QTRY_COMPARE(seen, (QList<int>{0, 1, 2}));
        QVERIFY(!job.wait(50)); // held
        QVERIFY(!job.isFinished());
        job.release();
        QVERIFY(finished.wait(5000));
        QVERIFY(job.isFinished());
        QVERIFY(!job.wasCancelled());
    }

    void deletingARunningJobCancelsAndWaitsForIt() {
        auto *job = new HeldJob(0);
        job->start();
        QVERIFY(!job->wait(50));
        delete job; // would hang if the run were not cancelled
    }

    // Abandoned while running or after it ended but before its news arrived: it says nothing
    // more and deletes itself once ended; the application waits for none of it.
    void anAbandonedJobSaysNothingAndGoes_data() {
        QTest::addColumn<bool>("ended");
        QTest::newRow("still running") << false;
        QTest::newRow("ended, news still queued") << true;
    }
    void anAbandonedJobSaysNothingAndGoes() {
        QFETCH(bool, ended);
        const QPointer<HeldJob> job = new HeldJob(2, this);
        int posts = 0;
        connect(job, &HeldJob::posted, this, [&] { ++posts; });
        QSignalSpy finished(job.data(), &base::BackgroundJob::finished);
        job->start();
        if (ended) {
            job->release();
            QVERIFY(job->wait(5000));
        } else {
            QVERIFY(!job->wait(50));
        }
        job->abandon();
        QCOMPARE(job->parent(), QCoreApplication::instance());
        QVERIFY(job->wasCancelled() || ended);
        QTRY_VERIFY(job.isNull());
        QCOMPARE(posts, 0);
        QCOMPARE(finished.count(), 0);
    }

    void counts_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << 0 << "0 members";
        QTest::newRow("one") << 1 << "1 member";
        QTest::newRow("two") << 2 << "2 members";
    }
    void counts() {
        QFETCH(int, n);
        QFETCH(QString, text);
        QCOMPARE(base::countOf(n, "member", "members"), text);
    }

    void durations_data() {
        QTest::addColumn<int>("milliseconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("one second") << 1000 << "1 second";
        QTest::newRow("twenty seconds") << 20000 << "20 seconds";
        QTest::newRow("a second and a half") << 1500 << "1.5 seconds";
        QTest::newRow("a quarter second") << 250 << "0.25 seconds";
    }
    void durations() {
        QFETCH(int, milliseconds);
        QFETCH(QString, text);
        QCOMPARE(base::durationText(std::chrono::milliseconds(milliseconds)), text);
    }
};

QTEST_GUILESS_MAIN(TestBase)
#include "tst_base.moc"
