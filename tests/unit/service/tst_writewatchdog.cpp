// The watchdog of a stream's writes: it cancels a call whose write does not go out within its
// limit or by the call's deadline, leaves calls alone whose writes go out, never cancels once
// disarmed, and keeps one timer per call however many writes it sees.

#include "rpc/writewatchdog.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;

class TestWriteWatchdog : public QObject
{
    Q_OBJECT

private slots:
    void aWriteThatDoesNotGoOutIsCancelled_data()
    {
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<int>("deadlineMs"); // -1: none
        QTest::newRow("past the limit") << 200 << -1;
        QTest::newRow("at the call's deadline, long before the limit") << 3600 * 1000 << 200;
        QTest::newRow("at the limit, before the deadline") << 200 << 3600 * 1000;
    }

    void aWriteThatDoesNotGoOutIsCancelled()
    {
        QFETCH(int, limitMs);
        QFETCH(int, deadlineMs);
        TimerQueue timers;
        std::atomic<int> cancels{0};
        const auto deadline = deadlineMs < 0 ? WriteWatchdog::Clock::time_point::max()
                                             : WriteWatchdog::Clock::now() + std::chrono::milliseconds(deadlineMs);
        WriteWatchdog watchdog(timers, [&] { ++cancels; }, std::chrono::milliseconds(limitMs), deadline);
        watchdog.writeStarted();
        // Generous: the machine may be loaded.
        QTRY_VERIFY_WITH_TIMEOUT(cancels > 0, 20000);
        QVERIFY(watchdog.fired());
        // Once is enough: the cancelled write completes and no other follows.
        watchdog.writeDone();
        std::this_thread::sleep_for(400ms);
        QCOMPARE(cancels.load(), 1);
    }

    void writesThatGoOutKeepTheCall()
    {
        TimerQueue timers;
        std::atomic<int> cancels{0};
        WriteWatchdog watchdog(timers, [&] { ++cancels; }, 1s);
        // Writes for several limits in all, each gone out well within one.
        const auto until = std::chrono::steady_clock::now() + 2500ms;
        while (std::chrono::steady_clock::now() < until) {
            watchdog.writeStarted();
            watchdog.writeDone();
            std::this_thread::sleep_for(10ms);
        }
        // Between writes (waiting for the next page or heartbeat) nothing is pending.
        std::this_thread::sleep_for(1500ms);
        QCOMPARE(cancels.load(), 0);
        QVERIFY(!watchdog.fired());
    }

    void aDisarmedWatchdogNeverCancels()
    {
        TimerQueue timers;
        std::atomic<int> cancels{0};
        {
            WriteWatchdog watchdog(timers, [&] { ++cancels; }, 100ms);
            watchdog.writeStarted();
            // What OnDone does: the call is about to go away with its write still pending.
            watchdog.disarm();
            std::this_thread::sleep_for(400ms);
        }
        QCOMPARE(cancels.load(), 0);
    }

    void manyWritesKeepOneTimer()
    {
        TimerQueue timers;
        WriteWatchdog watchdog(timers, [] {}, 3600s);
        for (int i = 0; i < 10000; ++i) {
            watchdog.writeStarted();
            watchdog.writeDone();
        }
        QCOMPARE(timers.waiting(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWriteWatchdog)
#include "tst_writewatchdog.moc"
