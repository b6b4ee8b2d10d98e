// The log of refused calls: the first refusal of an address for a reason is written at once,
// the ones that follow within the window are counted and summed up at its end, a flood that
// goes on is summed up once a window, and the keys it tracks stay within their cap.

#include "rpc/refusallog.h"

#include <QtTest>

#include <mutex>
#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;

namespace {

using Clock = RefusalLog::Clock;

// Collects the summaries a refusal log writes.
struct Summaries
{
    std::mutex mutex;
    QList<RefusalLog::Summary> written;

    RefusalLog::SummaryWriter writer()
    {
        return [this](const RefusalLog::Summary &summary) {
            std::lock_guard<std::mutex> lock(mutex);
            written.append(summary);
        };
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return written.size();
    }
};

const QString Peer = QStringLiteral("ipv4:10.0.0.5:53122");
const QString Unauthenticated = QStringLiteral("unauthenticated");

} // namespace

class TestRefusalLog : public QObject
{
    Q_OBJECT

private slots:
    void aFloodFromOneAddressIsOneLineAndASummary()
    {
        Summaries summaries;
        RefusalLog log(nullptr, RefusalLog::Policy(), summaries.writer());
        const Clock::time_point start = Clock::now();
        int written = 0;
        for (int i = 0; i < 5000; ++i) {
            // Each call comes from a port of its own; the address is what counts.
            const QString peer = QStringLiteral("ipv4:10.0.0.5:%1").arg(40000 + i % 2000);
            written += log.admit(EventLog::Level::Info, "presence", peer, Unauthenticated, start + i * 1ms) ? 1 : 0;
        }
        QCOMPARE(written, 1);
        log.flush(start + 9s);
        QCOMPARE(summaries.count(), 0); // the window is still open
        log.flush(start + 11s);
        QCOMPARE(summaries.count(), 1);
        const RefusalLog::Summary &summary = summaries.written.at(0);
        QCOMPARE(summary.repeated, qint64(4999));
        QCOMPARE(summary.address, QStringLiteral("ipv4:10.0.0.5"));
        QCOMPARE(summary.result, Unauthenticated);
        QCOMPARE(QByteArray(summary.event), QByteArray("presence"));
        QCOMPARE(summary.level, EventLog::Level::Info);
    }

    void eachAddressEventAndReasonHasItsOwnFirstLine()
    {
        RefusalLog log(nullptr);
        const Clock::time_point now = Clock::now();
        QVERIFY(log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated, now));
        QVERIFY(!log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated, now));
        QVERIFY(log.admit(EventLog::Level::Info, "presence", QStringLiteral("ipv4:10.0.0.6:53122"), Unauthenticated, now));
        QVERIFY(log.admit(EventLog::Level::Info, "watch", Peer, Unauthenticated, now));
        QVERIFY(log.admit(EventLog::Level::Warning, "presence", Peer, QStringLiteral("busy"), now));
        QVERIFY(log.admit(EventLog::Level::Info, "presence", QStringLiteral("ipv6:[::1]:53122"), Unauthenticated, now));
        QVERIFY(!log.admit(EventLog::Level::Info, "presence", QStringLiteral("ipv6:[::1]:60000"), Unauthenticated, now));
    }

    void aFloodThatGoesOnIsSummedUpOnceAWindowUntilItStops()
    {
        Summaries summaries;
        RefusalLog log(nullptr, RefusalLog::Policy(), summaries.writer());
        const Clock::time_point start = Clock::now();
        QVERIFY(log.admit(EventLog::Level::Info, "login", Peer, QStringLiteral("denied"), start));
        QVERIFY(!log.admit(EventLog::Level::Info, "login", Peer, QStringLiteral("denied"), start + 5s));
        log.flush(start + 10s);
        QCOMPARE(summaries.count(), 1);
        // The flood goes on: counted, not written one by one.
        for (int i = 0; i < 3; ++i)
            QVERIFY(!log.admit(EventLog::Level::Info, "login", Peer, QStringLiteral("denied"), start + 12s));
        log.flush(start + 20s);
        QCOMPARE(summaries.count(), 2);
        QCOMPARE(summaries.written.at(1).repeated, qint64(3));
        // A window without refusals ends it; the next refusal is written at once again.
        log.flush(start + 30s);
        QCOMPARE(summaries.count(), 2);
        QCOMPARE(log.tracked(), 0);
        QVERIFY(log.admit(EventLog::Level::Info, "login", Peer, QStringLiteral("denied"), start + 31s));
    }

    void theKeysTrackedStayWithinTheCap()
    {
        Summaries summaries;
        RefusalLog::Policy policy;
        policy.maxKeys = 3;
        RefusalLog log(nullptr, policy, summaries.writer());
        const Clock::time_point now = Clock::now();
        int written = 0;
        for (int i = 0; i < 1000; ++i) {
            const QString peer = QStringLiteral("ipv4:10.1.%1.%2:4000").arg(i / 256).arg(i % 256);
            written += log.admit(EventLog::Level::Info, "presence", peer, Unauthenticated, now) ? 1 : 0;
        }
        QCOMPARE(log.tracked(), 4); // three addresses and the overflow
        QCOMPARE(written, 4);
        log.flush(now + 11s);
        QCOMPARE(summaries.count(), 1);
        QCOMPARE(summaries.written.at(0).address, QStringLiteral("*"));
        QCOMPARE(summaries.written.at(0).repeated, qint64(996));
    }

    void theTimerWritesTheSummaryWithoutAnotherRefusal()
    {
        Summaries summaries;
        TimerQueue timers;
        RefusalLog::Policy policy;
        policy.window = 200ms;
        RefusalLog log(&timers, policy, summaries.writer());
        QVERIFY(log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated));
        QVERIFY(!log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated));
        QTRY_COMPARE_WITH_TIMEOUT(summaries.count(), 1, 20000);
        QCOMPARE(summaries.written.at(0).repeated, qint64(1));
        // The quiet window after it ends the key.
        QTRY_COMPARE_WITH_TIMEOUT(log.tracked(), 0, 20000);
    }

    void summariesStillOwedAreWrittenAtTheEnd()
    {
        Summaries summaries;
        {
            RefusalLog log(nullptr, RefusalLog::Policy(), summaries.writer());
            QVERIFY(log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated));
            QVERIFY(!log.admit(EventLog::Level::Info, "presence", Peer, Unauthenticated));
            QVERIFY(log.admit(EventLog::Level::Info, "watch", Peer, Unauthenticated));
        }
        QCOMPARE(summaries.count(), 1);
        QCOMPARE(QByteArray(summaries.written.at(0).event), QByteArray("presence"));
    }
};

QTEST_GUILESS_MAIN(TestRefusalLog)
#include "tst_refusallog.moc"
