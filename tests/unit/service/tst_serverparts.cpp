// The small pieces the RPC handlers stand on: session timing, stream limits, the session hub,
// presence chunking, log lines, option values and progress output.

#include "sessions/authenticator.h"
#include "ops/eventlog.h"
#include "serve/listenguard.h"
#include "rpc/presencechunker.h"
#include "cli/progressprinter.h"
#include "serve/resetbudget.h"
#include "ops/serverconfig.h"
#include "sessions/sessionhub.h"
#include "sessions/sessionmanager.h"
#include "rpc/streamlimiter.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;

namespace {

PresenceRow row(int index, int pictureBytes = 0)
{
    PresenceRow r;
    r.employeeId = QStringLiteral("E%1").arg(index, 5, 10, QLatin1Char('0'));
    r.lastName = QStringLiteral("Petrović");
    r.firstName = QStringLiteral("Ana");
    r.picture = QByteArray(pictureBytes, 'p');
    return r;
}

// Everything written to a FILE, for output checks.
class CapturedStream
{
public:
    CapturedStream() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~CapturedStream()
    {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    FILE *file() const { return m_file; }
    QByteArray text()
    {
        std::fflush(m_file);
        return QByteArray(m_buffer, int(m_size));
    }

private:
    char *m_buffer = nullptr;
    size_t m_size = 0;
    FILE *m_file;
};

} // namespace

class TestServerParts : public QObject
{
    Q_OBJECT

private slots:
    void sessionExpiresAfterTheIdleLimit()
    {
        const SessionPolicy policy{1800s};
        const QDateTime seen(QDate(2024, 3, 4), QTime(8, 0), Qt::UTC);
        QVERIFY(!policy.expired(seen, seen.addSecs(1799)));
        QVERIFY(policy.expired(seen, seen.addSecs(1800)));
        QVERIFY(policy.expired(seen, seen.addDays(1)));
    }

    void lastSeenIsTouchedAtMostEveryThirtySeconds()
    {
        const QDateTime seen(QDate(2024, 3, 4), QTime(8, 0), Qt::UTC);
        const SessionPolicy normal{1800s};
        QCOMPARE(normal.touchInterval(), 30s);
        QVERIFY(!normal.needsTouch(seen, seen.addSecs(29)));
        QVERIFY(normal.needsTouch(seen, seen.addSecs(30)));
        // A short limit is touched often enough that a busy session never expires.
        const SessionPolicy shortIdle{8s};
        QCOMPARE(shortIdle.touchInterval(), 2s);
        QVERIFY(shortIdle.needsTouch(seen, seen.addSecs(2)));
        QVERIFY(!shortIdle.needsTouch(seen, seen.addSecs(1)));
    }

    void streamLimiterCapsEachSessionAlone()
    {
        StreamLimiter limiter(2);
        StreamLimiter::Slot a1 = limiter.acquire("a");
        StreamLimiter::Slot a2 = limiter.acquire("a");
        QVERIFY(a1.held() && a2.held());
        QVERIFY(!limiter.acquire("a").held());
        QVERIFY(limiter.acquire("b").held());
        QCOMPARE(limiter.open("a"), 2);
        {
            StreamLimiter::Slot moved = std::move(a1);
            QVERIFY(!a1.held());
            QCOMPARE(limiter.open("a"), 2);
        }
        // The moved slot died: one place is free again, and only one.
        QCOMPARE(limiter.open("a"), 1);
        StreamLimiter::Slot again = limiter.acquire("a");
        QVERIFY(again.held());
        QVERIFY(!limiter.acquire("a").held());
    }

    void hubEndsOnlyTheNamedSession()
    {
        SessionHub hub;
        const auto mine = hub.watch("mine");
        const auto other = hub.watch("other");
        QCOMPARE(hub.openWatches(), 2);
        QVERIFY(mine->waitForEnd(0ms).isEmpty());
        hub.end("mine", QStringLiteral("You logged out."));
        QCOMPARE(mine->waitForEnd(0ms), QStringLiteral("You logged out."));
        QVERIFY(other->waitForEnd(10ms).isEmpty());
    }

    void hubWakesAWaitingStreamAtOnce()
    {
        SessionHub hub;
        const auto watch = hub.watch("token");
        QElapsedTimer timer;
        timer.start();
        std::thread ender([&hub] {
            std::this_thread::sleep_for(50ms);
            hub.end("token", QStringLiteral("bye"));
        });
        // Bounded: it either wakes on the end or gives up after 20 s.
        const QString reason = watch->waitForEnd(20s);
        ender.join();
        QCOMPARE(reason, QStringLiteral("bye"));
        QVERIFY(timer.elapsed() < 10000);
    }

    void hubShutdownEndsPresentAndFutureStreams()
    {
        SessionHub hub;
        auto before = hub.watch("a");
        hub.shutdown(QStringLiteral("shutting down"));
        QCOMPARE(before->waitForEnd(0ms), QStringLiteral("shutting down"));
        QCOMPARE(hub.watch("b")->waitForEnd(0ms), QStringLiteral("shutting down"));
        before.reset();
        QCOMPARE(hub.openWatches(), 0);
    }

    // After a gap in listening each stream hears once, whatever the number of its departments.
    void hubTellsEveryFollowerOnceWhenChangesMayHaveBeenMissed()
    {
        SessionHub hub;
        int twoDepartments = 0, everyDepartment = 0, noDepartment = 0;
        const auto a = hub.watch("a");
        a->followPresence({false, {1, 2}}, [&] { ++twoDepartments; });
        const auto b = hub.watch("b");
        b->followPresence({true, {}}, [&] { ++everyDepartment; });
        const auto c = hub.watch("c");
        c->followPresence({false, {}}, [&] { ++noDepartment; });
        hub.presenceMayHaveChangedAnywhere();
        QCOMPARE(twoDepartments, 1);
        QCOMPARE(everyDepartment, 1);
        QCOMPARE(noDepartment, 0);
    }

    void chunksHoldAtMostTheRowLimitAndKeepOrder()
    {
        QStringList ids;
        QList<int> sizes;
        PresenceChunker chunker([&](const vorna::v1::PresenceChunk &chunk) {
            sizes << chunk.rows_size();
            for (const auto &r : chunk.rows())
                ids << QString::fromStdString(r.employee_id());
            return true;
        });
        for (int i = 0; i < 450; ++i)
            QVERIFY(chunker.add(row(i)));
        QVERIFY(chunker.finish());
        QCOMPARE(sizes, (QList<int>{200, 200, 50}));
        QCOMPARE(ids.size(), 450);
        QCOMPARE(ids.first(), QStringLiteral("E00000"));
        QCOMPARE(ids.last(), QStringLiteral("E00449"));
        QVERIFY(std::is_sorted(ids.begin(), ids.end()));
        QCOMPARE(chunker.rowsSent(), 450);
        QCOMPARE(chunker.chunksSent(), 3);
    }

    void chunksStayNearTheByteLimit()
    {
        QList<size_t> bytes;
        PresenceChunker chunker([&](const vorna::v1::PresenceChunk &chunk) {
            bytes << chunk.ByteSizeLong();
            return true;
        });
        // 100 KB pictures: three make a chunk pass 256 KB, so chunks hold three rows.
        for (int i = 0; i < 7; ++i)
            QVERIFY(chunker.add(row(i, 100 * 1024)));
        QVERIFY(chunker.finish());
        QCOMPARE(bytes.size(), 3);
        for (size_t size : bytes)
            QVERIFY(size < 400 * 1024);
    }

    void chunkerStopsAfterAFailedSend()
    {
        int sends = 0;
        PresenceChunker chunker([&](const vorna::v1::PresenceChunk &) {
            ++sends;
            return false;
        }, 2);
        QVERIFY(chunker.add(row(1)));
        QVERIFY(!chunker.add(row(2)));
        QVERIFY(!chunker.add(row(3)));
        QVERIFY(!chunker.finish());
        QCOMPARE(sends, 1);
        QCOMPARE(chunker.rowsSent(), 0);
    }

    void emptyAnswerSendsNoChunk()
    {
        int sends = 0;
        PresenceChunker chunker([&](const vorna::v1::PresenceChunk &) { return ++sends > 0; });
        QVERIFY(chunker.finish());
        QCOMPARE(sends, 0);
    }

    void logLinesAreLogfmt()
    {
        QCOMPARE(EventLog::format(EventLog::Level::Info, "login",
                                  {{"user", QStringLiteral("manager")},
                                   {"peer", QStringLiteral("ipv4:127.0.0.1:53122")},
                                   {"result", QStringLiteral("ok")}}),
                 QByteArray("vorna-service: level=info event=login user=manager peer=ipv4:127.0.0.1:53122 result=ok"));
        // Spaces, quotes, equals signs and line breaks are quoted and escaped: one event, one line.
        QCOMPARE(EventLog::format(EventLog::Level::Error, "presence",
                                  {{"msg", QStringLiteral("a \"b\" = c\nd\\e")}, {"empty", QString()}}),
                 QByteArray("vorna-service: level=error event=presence msg=\"a \\\"b\\\" = c\\nd\\\\e\" empty=\"\""));
        QCOMPARE(EventLog::format(EventLog::Level::Warning, "x", {{"name", QStringLiteral("Đorđević")}}),
                 QStringLiteral("vorna-service: level=warning event=x name=Đorđević").toUtf8());
    }

    void logLevelsFilter()
    {
        EventLog::Level level = EventLog::Level::Info;
        QVERIFY(EventLog::parseLevel(QStringLiteral("warning"), &level));
        QCOMPARE(level, EventLog::Level::Warning);
        QVERIFY(!EventLog::parseLevel(QStringLiteral("loud"), &level));
        EventLog::setThreshold(EventLog::Level::Warning);
        QVERIFY(!EventLog::enabled(EventLog::Level::Info));
        QVERIFY(EventLog::enabled(EventLog::Level::Error));
        EventLog::setThreshold(EventLog::Level::Info);
        QVERIFY(EventLog::enabled(EventLog::Level::Info));
        QVERIFY(!EventLog::enabled(EventLog::Level::Debug));
    }

    void durations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("bare") << QStringLiteral("90") << qint64(90);
        QTest::newRow("seconds") << QStringLiteral("90s") << qint64(90);
        QTest::newRow("minutes") << QStringLiteral("30m") << qint64(1800);
        QTest::newRow("hours") << QStringLiteral("2h") << qint64(7200);
        QTest::newRow("zero") << QStringLiteral("0") << qint64(-1);
        QTest::newRow("negative") << QStringLiteral("-5") << qint64(-1);
        QTest::newRow("unit only") << QStringLiteral("m") << qint64(-1);
        QTest::newRow("unknown unit") << QStringLiteral("5d") << qint64(-1);
        QTest::newRow("fraction") << QStringLiteral("1.5m") << qint64(-1);
    }

    void durations()
    {
        QFETCH(QString, text);
        QFETCH(qint64, seconds);
        std::chrono::seconds parsed{-1};
        QCOMPARE(parseDuration(text, &parsed), seconds >= 0);
        QCOMPARE(parsed.count(), seconds);
    }

    void listenAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("ipv4") << QStringLiteral("127.0.0.1:50051") << QString();
        QTest::newRow("free port") << QStringLiteral("127.0.0.1:0") << QString();
        QTest::newRow("ipv6") << QStringLiteral("[::1]:50051") << QString();
        QTest::newRow("name") << QStringLiteral("localhost:50051") << QString();
        QTest::newRow("no port") << QStringLiteral("127.0.0.1") << QStringLiteral("has no port");
        QTest::newRow("port too big") << QStringLiteral("127.0.0.1:70000") << QStringLiteral("0 to 65535");
        QTest::newRow("port not a number") << QStringLiteral("127.0.0.1:http") << QStringLiteral("0 to 65535");
        QTest::newRow("bare ipv6") << QStringLiteral("::1:50051") << QStringLiteral("in brackets");
        QTest::newRow("empty host") << QStringLiteral(":50051") << QStringLiteral("has no port");
    }

    void listenAddresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, complaint);
        const QString result = checkListenAddress(address);
        if (complaint.isEmpty())
            QVERIFY2(result.isEmpty(), qPrintable(result));
        else
            QVERIFY2(result.contains(complaint), qPrintable(result));
    }

    void byteSizes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("bytes") << QStringLiteral("1048576") << qint64(1048576);
        QTest::newRow("kibibytes") << QStringLiteral("64K") << qint64(65536);
        QTest::newRow("mebibytes") << QStringLiteral("256M") << qint64(256) * 1024 * 1024;
        QTest::newRow("gibibytes, lower case") << QStringLiteral("2g") << qint64(2) * 1024 * 1024 * 1024;
        QTest::newRow("unknown unit") << QStringLiteral("5T") << qint64(-1);
        QTest::newRow("fraction") << QStringLiteral("1.5G") << qint64(-1);
        QTest::newRow("negative") << QStringLiteral("-1M") << qint64(-1);
        QTest::newRow("overflowing") << QStringLiteral("9999999999999G") << qint64(-1);
    }

    void byteSizes()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        qint64 parsed = -1;
        QCOMPARE(parseByteSize(text, &parsed), bytes >= 0);
        QCOMPARE(parsed, bytes);
    }

    void onlyLoopbackListenersCountAsLocal()
    {
        for (const char *local : {"127.0.0.1:50051", "127.1.2.3:0", "[::1]:50051", "localhost:50051"})
            QVERIFY2(isLoopbackListen(QLatin1String(local)), local);
        for (const char *remote : {"0.0.0.0:50051", "[::]:50051", "10.0.0.5:50051", "127.example.com:50051"})
            QVERIFY2(!isLoopbackListen(QLatin1String(remote)), remote);
    }

    // The ledger cannot see gRPC close a connection; it must find out when a cap is reached.
    void connectionLedgerFindsClosedConnectionsAtTheCap()
    {
        ConnectionLedger ledger(ConnectionCaps{3, 2});
        int pairs[3][2];
        ino_t inodes[3];
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pairs[i]), 0);
            struct stat st;
            QCOMPARE(::fstat(pairs[i][0], &st), 0);
            inodes[i] = st.st_ino;
        }
        const std::string office = "192.0.2.7";
        QCOMPARE(ledger.admit(pairs[0][0], inodes[0], office), ConnectionLedger::Verdict::Admit);
        QCOMPARE(ledger.admit(pairs[1][0], inodes[1], office), ConnectionLedger::Verdict::Admit);
        QCOMPARE(ledger.admit(pairs[2][0], inodes[2], office), ConnectionLedger::Verdict::AddressFull);
        QCOMPARE(ledger.admit(pairs[2][0], inodes[2], "198.51.100.1"), ConnectionLedger::Verdict::Admit);
        QCOMPARE(ledger.admit(pairs[2][1], inodes[2] + 1, "203.0.113.9"), ConnectionLedger::Verdict::TotalFull);

        // The office closes one connection: its next one fits again.
        ::close(pairs[0][0]);
        const int reopened = ::dup(pairs[0][1]); // another socket, perhaps under the closed number
        struct stat st;
        QCOMPARE(::fstat(reopened, &st), 0);
        QCOMPARE(ledger.admit(reopened, st.st_ino, office), ConnectionLedger::Verdict::Admit);
        QCOMPARE(ledger.countFor(office), size_t(2));
        QCOMPARE(ledger.total(), size_t(3));
        for (int fd : {reopened, pairs[0][1], pairs[1][0], pairs[1][1], pairs[2][0], pairs[2][1]})
            ::close(fd);
    }

    // Frames split anywhere across reads are still counted once each.
    void frameCounterCountsResetsAcrossReads()
    {
        QByteArray stream("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n");
        auto frame = [&stream](char type, int payload) {
            stream += char(0) + QByteArray(1, char(payload >> 8)) + char(payload & 0xff) + type + char(0)
                    + QByteArray::fromHex("00000001") + QByteArray(payload, '\3');
        };
        frame(0x4, 0);   // SETTINGS
        frame(0x1, 300); // HEADERS, payload full of bytes that look like RST_STREAM types
        frame(0x3, 4);   // RST_STREAM
        frame(0x0, 5);   // DATA
        frame(0x3, 4);
        for (int step : {1, 7, 4096}) {
            Http2FrameCounter counter;
            int resets = 0;
            for (int at = 0; at < stream.size(); at += step)
                resets += counter.resetsIn(reinterpret_cast<const unsigned char *>(stream.constData()) + at,
                                           size_t(std::min(step, int(stream.size()) - at)));
            QCOMPARE(resets, 2);
            QVERIFY(!counter.opaque());
        }
        Http2FrameCounter tls;
        const QByteArray hello = QByteArray::fromHex("160301") + stream.mid(3);
        QCOMPARE(tls.resetsIn(reinterpret_cast<const unsigned char *>(hello.constData()), size_t(hello.size())), 0);
        QVERIFY(tls.opaque());
    }

    void resetBudgetCutsOffOneAddressForAWhile()
    {
        ResetBudget budget(10, 1000);
        QVERIFY(budget.spend("192.0.2.1", 10, 0));
        QVERIFY(!budget.spend("192.0.2.1", 1, 500));
        QVERIFY(budget.overspent("192.0.2.1", 1999));
        QVERIFY(!budget.overspent("192.0.2.2", 500));
        QVERIFY(budget.spend("192.0.2.2", 10, 500));
        QVERIFY(!budget.overspent("192.0.2.1", 2000));
        QVERIFY(budget.spend("192.0.2.1", 10, 2000));
    }

    void peerAddressDropsThePort()
    {
        QCOMPARE(Authenticator::peerAddress(QStringLiteral("ipv4:127.0.0.1:53122")), QStringLiteral("ipv4:127.0.0.1"));
        QCOMPARE(Authenticator::peerAddress(QStringLiteral("ipv6:[::1]:53122")), QStringLiteral("ipv6:[::1]"));
        QCOMPARE(Authenticator::peerAddress(QStringLiteral("unix:/run/vorna.sock")), QStringLiteral("unix:/run/vorna.sock"));
    }

    void progressOnAPipeIsPlainLines()
    {
        CapturedStream stream;
        ProgressPrinter printer(stream.file(), false);
        for (int done = 0; done <= 1000; ++done)
            printer.report(QStringLiteral("Employees"), done, 1000);
        printer.report(QStringLiteral("Pictures"), 5, 5);
        printer.finish();
        const QList<QByteArray> lines = stream.text().split('\n');
        // Eleven tenths (0% to 100%) of the first phase, one line of the second, and the end.
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.at(0), QByteArray("Employees: 0 of 1000 (0%)"));
        QCOMPARE(lines.at(10), QByteArray("Employees: 1000 of 1000 (100%)"));
        QCOMPARE(lines.at(11), QByteArray("Pictures: 5 of 5 (100%)"));
        QVERIFY(!stream.text().contains('\r'));
    }

    void progressOnATerminalRewritesOneLine()
    {
        CapturedStream stream;
        ProgressPrinter printer(stream.file(), true);
        for (int done = 0; done <= 10; ++done)
            printer.report(QStringLiteral("Employees"), done, 10);
        printer.report(QStringLiteral("Pictures"), 1, 2);
        printer.finish();
        const QByteArray text = stream.text();
        QCOMPARE(text.count('\r'), 12);
        // One line break where the phase changed, one at the end.
        QCOMPARE(text.count('\n'), 2);
        QVERIFY(text.contains("\rEmployees: 10 of 10 (100%)\x1b[K\n\rPictures: 1 of 2 (50%)"));
    }
};

QTEST_GUILESS_MAIN(TestServerParts)
#include "tst_serverparts.moc"
