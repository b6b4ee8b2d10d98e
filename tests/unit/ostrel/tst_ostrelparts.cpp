// The client library's pure parts: address parsing, civil time, the picture cache, the
// bookkeeping of owed answers, the sentences for failed calls, and the checks on answers.

#include <ostrel/answercheck.h>
#include <ostrel/callerror.h>
#include <ostrel/civiltime.h>
#include <ostrel/connectionoptions.h>
#include <ostrel/pendinganswers.h>
#include <ostrel/picturecache.h>
#include <ostrel/serviceaddress.h>

#include "commservice.pb.h"

#include <QtTest>

#include <ctime>
#include <limits>

using namespace ostrel;

class TestOstrelParts : public QObject
{
    Q_OBJECT

private slots:
    void validAddresses_data();
    void validAddresses();
    void invalidAddresses_data();
    void invalidAddresses();

    void civilTimeKeepsTheWallClock_data();
    void civilTimeKeepsTheWallClock();
    void civilTimeOfOtherSpecsIsReadLocally();
    void civilDaysStartAtLocalMidnight();
    void civilTimeOutsideTheAcceptedYearsIsInvalid();

    void pictureCacheFillsRowsWithoutBytes();
    void pictureCacheKeepsOnlyTheLatestAnswer();

    void pendingAnswersKeepOrder();
    void pendingAnswersCloseAllAnswersEachOnce();

    void transportReasons_data();
    void transportReasons();
    void failureTexts();
    void serviceMessagesAreMadeSafe();

    void metadataValuesArePlainAscii();
    void absurdAnswersAreFound();
};

void TestOstrelParts::validAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("target");
    QTest::newRow("ipv4") << "tcp://10.0.0.5:50051/CommService" << "10.0.0.5:50051" << "ipv4:10.0.0.5:50051";
    QTest::newRow("ipv6") << "tcp://[::1]:1/CommService" << "[::1]:1" << "ipv6:[::1]:1";
    QTest::newRow("ipv6 long") << "tcp://[fe80::1:2:3]:65535/CommService" << "[fe80::1:2:3]:65535" << "ipv6:[fe80::1:2:3]:65535";
    QTest::newRow("name") << "tcp://attendance.example.org:443/CommService" << "attendance.example.org:443" << "dns:///attendance.example.org:443";
    QTest::newRow("short name") << "tcp://localhost:50051/CommService" << "localhost:50051" << "dns:///localhost:50051";
    QTest::newRow("scheme case, blanks") << "  TCP://host-1:8080/CommService " << "host-1:8080" << "dns:///host-1:8080";
}

void TestOstrelParts::validAddresses()
{
    QFETCH(QString, url);
    QFETCH(QString, display);
    QFETCH(QString, target);
    QString error;
    const ServiceAddress address = ServiceAddress::parse(url, &error);
    QVERIFY2(address.isValid(), qPrintable(error));
    QCOMPARE(address.display(), display);
    QCOMPARE(QString::fromStdString(address.grpcTarget()), target);
}

void TestOstrelParts::invalidAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("empty") << "" << "No service address was given.";
    QTest::newRow("scheme") << "udp://1.2.3.4:5/CommService" << "does not start with tcp://";
    QTest::newRow("no host") << "tcp://:50051/CommService" << "names no server";
    QTest::newRow("bad ipv4") << "tcp://999.1.1.1:50051/CommService" << "\"999.1.1.1\"";
    QTest::newRow("short ipv4") << "tcp://10.1:50051/CommService" << "\"10.1\"";
    QTest::newRow("bad name") << "tcp://a..b:50051/CommService" << "neither a valid host name";
    QTest::newRow("underscore") << "tcp://my_host:50051/CommService" << "\"my_host\"";
    QTest::newRow("ipv6 unbracketed") << "tcp://::1:50051/CommService" << "looks like an IPv6 address. Write it in brackets";
    QTest::newRow("ipv6 bad") << "tcp://[::g]:50051/CommService" << "not a valid IPv6 address";
    QTest::newRow("ipv6 unclosed") << "tcp://[::1:50051/CommService" << "not a valid IPv6 address";
    QTest::newRow("port zero") << "tcp://1.2.3.4:0/CommService" << "\"0\"";
    QTest::newRow("port too big") << "tcp://1.2.3.4:65536/CommService" << "\"65536\"";
    QTest::newRow("port letters") << "tcp://1.2.3.4:50a/CommService" << "\"50a\"";
    QTest::newRow("port sign") << "tcp://1.2.3.4:+80/CommService" << "\"+80\"";
    QTest::newRow("no port") << "tcp://1.2.3.4/CommService" << "port \"\"";
    QTest::newRow("no path") << "tcp://1.2.3.4:50051" << "(none)";
    QTest::newRow("other path") << "tcp://1.2.3.4:50051/Other" << "\"/Other\"";
    QTest::newRow("path case") << "tcp://1.2.3.4:50051/commservice" << "Use tcp://1.2.3.4:50051/CommService.";
}

void TestOstrelParts::invalidAddresses()
{
    QFETCH(QString, url);
    QFETCH(QString, mentions);
    QString error;
    const ServiceAddress address = ServiceAddress::parse(url, &error);
    QVERIFY(!address.isValid());
    QVERIFY2(error.contains(mentions), qPrintable(error));
    QVERIFY(error.endsWith(QLatin1Char('.')));
}

void TestOstrelParts::civilTimeKeepsTheWallClock_data()
{
    // The test runs in Europe/Belgrade (see main): CET in winter, CEST in summer.
    QTest::addColumn<QDateTime>("local");
    QTest::addColumn<qint64>("civil");
    const auto civil = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toSecsSinceEpoch();
    };
    QTest::newRow("winter") << QDateTime(QDate(2018, 3, 5), QTime(8, 0), Qt::LocalTime) << civil(2018, 3, 5, 8, 0, 0);
    QTest::newRow("summer") << QDateTime(QDate(2018, 7, 1), QTime(23, 59, 59), Qt::LocalTime) << civil(2018, 7, 1, 23, 59, 59);
    QTest::newRow("DST day midnight") << QDateTime(QDate(2018, 3, 25), QTime(0, 0), Qt::LocalTime) << civil(2018, 3, 25, 0, 0, 0);
    QTest::newRow("after the switch") << QDateTime(QDate(2018, 3, 25), QTime(3, 30), Qt::LocalTime) << civil(2018, 3, 25, 3, 30, 0);
    QTest::newRow("before the epoch") << QDateTime(QDate(1969, 12, 31), QTime(12, 0), Qt::LocalTime) << civil(1969, 12, 31, 12, 0, 0);
}

void TestOstrelParts::civilTimeKeepsTheWallClock()
{
    QFETCH(QDateTime, local);
    QFETCH(qint64, civil);
    QCOMPARE(civilSecondsFromLocal(local).value_or(-1), civil);
    const QDateTime back = localFromCivilSeconds(civil);
    QCOMPARE(back, local);
    QCOMPARE(back.timeSpec(), Qt::LocalTime);
    QCOMPARE(back.time(), local.time());
    // A civil day starts at a multiple of 86400 whatever the zone's offset that day.
    QCOMPARE(civilSecondsFromLocal(QDateTime(local.date(), QTime(0, 0), Qt::LocalTime)).value_or(-1) % 86400, 0);
}

void TestOstrelParts::civilTimeOfOtherSpecsIsReadLocally()
{
    QVERIFY(!civilSecondsFromLocal(QDateTime()).has_value());
    // 07:00 UTC is 08:00 in Belgrade in winter: the wall clock the user sees is what counts.
    const QDateTime utc(QDate(2018, 3, 5), QTime(7, 0), Qt::UTC);
    QCOMPARE(civilSecondsFromLocal(utc).value_or(-1), QDateTime(QDate(2018, 3, 5), QTime(8, 0), Qt::UTC).toSecsSinceEpoch());
    // Milliseconds are dropped, not rounded.
    const QDateTime withMs(QDate(2018, 3, 5), QTime(8, 0, 0, 999), Qt::LocalTime);
    QCOMPARE(civilSecondsFromLocal(withMs).value_or(-1) % 60, 0);
}

void TestOstrelParts::civilDaysStartAtLocalMidnight()
{
    const QDateTime midnight = localMidnight(2018, 10, 28); // the day summer time ends
    QCOMPARE(midnight.timeSpec(), Qt::LocalTime);
    QCOMPARE(midnight.date(), QDate(2018, 10, 28));
    QCOMPARE(midnight.time(), QTime(0, 0));
    QVERIFY(!localMidnight(2018, 2, 29).isValid());
    QVERIFY(!localMidnight(2018, 13, 1).isValid());
    QCOMPARE(localDate(QDateTime(QDate(2017, 12, 21), QTime(23, 30), Qt::LocalTime)), QDate(2017, 12, 21));
    // 23:30 UTC on 21 December is already the 22nd in Belgrade.
    QCOMPARE(localDate(QDateTime(QDate(2017, 12, 21), QTime(23, 30), Qt::UTC)), QDate(2017, 12, 22));
    QVERIFY(!localDate(QDateTime()).isValid());
}

void TestOstrelParts::civilTimeOutsideTheAcceptedYearsIsInvalid()
{
    const auto civil = [](int y, int mo, int d, int h, int mi, int s) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toSecsSinceEpoch();
    };
    const qint64 first = civil(1900, 1, 1, 0, 0, 0);
    const qint64 last = civil(9999, 12, 31, 23, 59, 59);
    QCOMPARE(localFromCivilSeconds(first).date(), QDate(1900, 1, 1));
    QCOMPARE(localFromCivilSeconds(last).date(), QDate(9999, 12, 31));
    const qint64 yearZero = -62167219200; // 0000-01-01 00:00:00, proleptic Gregorian
    for (const qint64 seconds : {first - 1, last + 1, yearZero, std::numeric_limits<qint64>::max(),
                                 std::numeric_limits<qint64>::min()})
        QVERIFY2(!localFromCivilSeconds(seconds).isValid(), qPrintable(QString::number(seconds)));
    QVERIFY(localMidnight(1900, 1, 1).isValid());
    QVERIFY(!localMidnight(0, 1, 1).isValid());
    QVERIFY(!localMidnight(1899, 12, 31).isValid());
    QVERIFY(!localMidnight(10000, 1, 1).isValid());
}

void TestOstrelParts::pictureCacheFillsRowsWithoutBytes()
{
    PictureCache cache;
    QVERIFY(cache.digests().empty());
    cache.beginAnswer();
    QCOMPARE(cache.resolve("d1", "one"), QByteArray("one"));
    QCOMPARE(cache.resolve("", ""), QByteArray());          // no picture
    QCOMPARE(cache.resolve("d2", ""), QByteArray());        // unknown digest, no bytes
    QCOMPARE(cache.resolve("d1", ""), QByteArray("one"));   // repeated in the same answer
    cache.finishAnswer(true);
    QCOMPARE(cache.digests(), std::vector<std::string>{"d1"});

    cache.beginAnswer();
    QCOMPARE(cache.resolve("d1", ""), QByteArray("one"));
    QCOMPARE(cache.resolve("d1", "new"), QByteArray("new")); // bytes sent win
    cache.finishAnswer(true);
    cache.beginAnswer();
    QCOMPARE(cache.resolve("d1", ""), QByteArray("new"));
}

void TestOstrelParts::pictureCacheKeepsOnlyTheLatestAnswer()
{
    PictureCache cache;
    cache.beginAnswer();
    cache.resolve("a", "A");
    cache.resolve("b", "B");
    cache.finishAnswer(true);
    QCOMPARE(cache.size(), 2);

    // An interrupted answer adds what it saw and drops nothing.
    cache.beginAnswer();
    cache.resolve("c", "C");
    cache.finishAnswer(false);
    QCOMPARE(cache.size(), 3);

    // A complete answer that no longer lists a and b leaves only its own pictures.
    cache.beginAnswer();
    cache.resolve("c", "");
    cache.finishAnswer(true);
    QCOMPARE(cache.digests(), std::vector<std::string>{"c"});
}

void TestOstrelParts::pendingAnswersKeepOrder()
{
    PendingAnswers answers;
    QStringList emitted;
    const auto say = [&emitted](const QString &word) { return [&emitted, word] { emitted.append(word); }; };
    const quint64 rows = answers.open(say("Begin"), say("Abandoned"));
    answers.deliver(rows, nullptr);
    answers.deliver(rows, say("row"));
    answers.finish(rows, say("End"));
    answers.deliver(rows, say("late row"));
    answers.finish(rows, say("late End"));
    QCOMPARE(emitted, (QStringList{"Begin", "row", "End"}));
    QVERIFY(!answers.isOpen(rows));

    // A request that finishes without rows still begins first.
    emitted.clear();
    const quint64 empty = answers.open(say("Begin"), say("Abandoned"));
    answers.finish(empty, say("End"));
    QCOMPARE(emitted, (QStringList{"Begin", "End"}));
}

void TestOstrelParts::pendingAnswersCloseAllAnswersEachOnce()
{
    PendingAnswers answers;
    QStringList emitted;
    const auto say = [&emitted](const QString &word) { return [&emitted, word] { emitted.append(word); }; };
    const quint64 started = answers.open(say("Begin 1"), say("End 1"));
    answers.deliver(started, say("row 1"));
    answers.open(say("Begin 2"), say("End 2"));
    answers.open(nullptr, say("Refused 3"));
    const std::vector<PendingAnswers::Emit> owed = answers.closeAll();
    QCOMPARE(emitted, (QStringList{"Begin 1", "row 1"}));
    QCOMPARE(owed.size(), std::size_t(3));
    QVERIFY(!answers.isOpen(started));
    answers.deliver(started, say("late row"));
    for (const auto &answer : owed)
        answer();
    QCOMPARE(emitted, (QStringList{"Begin 1", "row 1", "End 1", "Begin 2", "End 2", "Refused 3"}));
}

void TestOstrelParts::transportReasons_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");
    const int unavailable = grpc::StatusCode::UNAVAILABLE;
    QTest::newRow("refused") << unavailable
                             << "failed to connect to all addresses; last error: UNKNOWN: ipv4:127.0.0.1:1: Failed to connect to remote host: Connection refused"
                             << "connection refused";
    QTest::newRow("dns") << unavailable << "DNS resolution failed for nohost:1: C-ares status is not ARES_SUCCESS" << "the host name is unknown";
    QTest::newRow("reset") << unavailable << "Connection reset by peer" << "the connection was reset";
    QTest::newRow("closed") << unavailable << "Socket closed" << "the connection was closed";
    QTest::newRow("tls") << unavailable << "Handshake failed" << "the TLS handshake failed";
    QTest::newRow("deadline") << int(grpc::StatusCode::DEADLINE_EXCEEDED) << "Deadline Exceeded" << "no answer in time";
    // Texts gRPC 1.51 gives for servers that are not ours, seen on this machine.
    const char *lastError = "failed to connect to all addresses; last error: ";
    QTest::newRow("http1") << unavailable << QString(lastError) + "INTERNAL: ipv4:127.0.0.1:5: Trying to connect an http1.x server"
                           << "the server there speaks HTTP/1, not gRPC";
    QTest::newRow("not http2") << unavailable << QString(lastError) + "UNAVAILABLE: ipv4:127.0.0.1:5: Failed parsing HTTP/2"
                               << "the server there does not speak gRPC";
    QTest::newRow("tls to plaintext") << unavailable
                                      << QString(lastError) + "UNKNOWN: ipv4:127.0.0.1:5: Ssl handshake failed: SSL_ERROR_SSL: error:0A00010B:SSL routines::wrong version number"
                                      << "the service does not use TLS";
    QTest::newRow("untrusted") << unavailable
                               << QString(lastError) + "UNKNOWN: ipv4:127.0.0.1:5: Ssl handshake failed: SSL_ERROR_SSL: error:0A000086:SSL routines::certificate verify failed"
                               << "the service's TLS certificate is not trusted";
    QTest::newRow("too large") << int(grpc::StatusCode::RESOURCE_EXHAUSTED) << "Received message larger than max (70000000 vs. 67108864)"
                               << "the answer was larger than the client accepts";
    // Nothing recognisable: a reason of ours all the same, never gRPC's text.
    QTest::newRow("last error OK") << unavailable << QString(lastError) + "OK" << "the connection could not be set up";
    QTest::newRow("other") << int(grpc::StatusCode::INTERNAL) << "something odd" << "the connection failed in an unexpected way";
}

void TestOstrelParts::transportReasons()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    QCOMPARE(transportReason(grpc::Status(grpc::StatusCode(code), message.toStdString())), reason);
}

void TestOstrelParts::failureTexts()
{
    // The two TLS mismatches, in gRPC 1.51's words: a TLS service closes on a plaintext client;
    // a plaintext service's answer is no TLS record to a TLS client.
    const grpc::Status closed(grpc::StatusCode::UNAVAILABLE,
                              "failed to connect to all addresses; last error: UNAVAILABLE: ipv4:127.0.0.1:5: Socket closed");
    QCOMPARE(connectFailureText(closed, "h:1", 5000, false),
             QStringLiteral("Cannot reach the attendance service at h:1 (the service expects TLS). Set service/tls to true in the panel's "
                            "settings file, and service/caFile to the service's CA certificate unless a public authority signed it."));
    const grpc::Status notTls(grpc::StatusCode::UNAVAILABLE,
                              "failed to connect to all addresses; last error: UNKNOWN: ipv4:127.0.0.1:5: Ssl handshake failed: "
                              "SSL_ERROR_SSL: error:0A00010B:SSL routines::wrong version number");
    QCOMPARE(connectFailureText(notTls, "h:1", 5000, true),
             QStringLiteral("Cannot reach the attendance service at h:1 (the service does not use TLS). Set service/tls to false in the "
                            "panel's settings file, or turn TLS on in the service."));
    // Closed under TLS is not named a mismatch: it may be anything on the way.
    QVERIFY(connectFailureText(closed, "h:1", 5000, true).contains(QStringLiteral("(the connection was closed)")));
    const grpc::Status denied(grpc::StatusCode::PERMISSION_DENIED, "Only a manager may change calendars.");
    QCOMPARE(callFailureText(denied, "h:1", 30000), QStringLiteral("Only a manager may change calendars."));
    // A sentence under a code gRPC also uses is the service's; gRPC's own terse text is not.
    const grpc::Status databaseDown(grpc::StatusCode::UNAVAILABLE, "The database cannot be reached. Try again later.");
    QVERIFY(sentByService(databaseDown));
    QCOMPARE(callFailureText(databaseDown, "h:1", 30000), QString::fromStdString(databaseDown.error_message()));
    QVERIFY(!sentByService(grpc::Status(grpc::StatusCode::CANCELLED, "CANCELLED")));
    QVERIFY(!sentByService(grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "Received message larger than max (5 vs. 4)")));
    QVERIFY(callFailureText(grpc::Status(grpc::StatusCode::UNAVAILABLE, "Socket closed"), "h:1", 30000)
                .contains(QStringLiteral("at h:1 failed (the connection was closed)")));
    QCOMPARE(callFailureText(grpc::Status(grpc::StatusCode::DEADLINE_EXCEEDED, "Deadline Exceeded"), "h:1", 30000),
             QStringLiteral("The attendance service at h:1 did not answer within 30 seconds. Try again later."));
    QCOMPARE(connectFailureText(grpc::Status(grpc::StatusCode::DEADLINE_EXCEEDED, ""), "10.0.0.5:50051", 5000, false),
             QStringLiteral("Cannot reach the attendance service at 10.0.0.5:50051 (no answer within 5 seconds). Is the service running?"));
    QVERIFY(connectFailureText(grpc::Status(grpc::StatusCode::UNIMPLEMENTED, ""), "h:1", 5000, false)
                .contains(QStringLiteral("does not offer the attendance service")));
}

void TestOstrelParts::serviceMessagesAreMadeSafe()
{
    const grpc::Status twoLines(grpc::StatusCode::NOT_FOUND, std::string("No such employee:\n\0E1.", 22));
    QCOMPARE(callFailureText(twoLines, "h:1", 30000), QStringLiteral("No such employee: E1."));
    const QString longText = callFailureText(grpc::Status(grpc::StatusCode::NOT_FOUND, std::string(1 << 20, 'x')), "h:1", 30000);
    QCOMPARE(longText.size(), 300);
    QVERIFY(longText.endsWith(QChar(0x2026)));
}

void TestOstrelParts::metadataValuesArePlainAscii()
{
    QVERIFY(isUsableMetadataValue("token-1"));
    QVERIFY(isUsableMetadataValue(std::string(512, '~')));
    QVERIFY(!isUsableMetadataValue(std::string(513, 'a')));
    QVERIFY(!isUsableMetadataValue(""));
    ConnectionOptions options;
    options.tls = true;
    options.tlsServerName = QStringLiteral("service.example.org\nx");
    QString error;
    QVERIFY(!options.credentials(&error));
    QVERIFY(error.contains(QStringLiteral("service/tlsServerName")));
    for (const char bad : {'\n', '\0', ' ', '\x7f', '\x80', '\xff'})
        QVERIFY2(!isUsableMetadataValue(std::string("ab") + bad + "cd"), qPrintable(QString::number(uchar(bad))));
}

void TestOstrelParts::absurdAnswersAreFound()
{
    vorna::v1::PresenceChunk chunk;
    vorna::v1::PresenceRow *row = chunk.add_rows();
    row->set_employee_id("E1");
    row->set_last_name("Ana");
    row->set_picture_digest(std::string(32, 'd'));
    QCOMPARE(answerFault(chunk), QString());
    row->set_picture_digest("short");
    QCOMPARE(answerFault(chunk), QStringLiteral("a picture digest of 5 bytes"));
    row->clear_picture_digest();
    row->set_department(std::string(5000, 'd'));
    QCOMPARE(answerFault(chunk), QStringLiteral("a department of 5000 bytes"));
    row->clear_department();
    row->clear_employee_id();
    QCOMPARE(answerFault(chunk), QStringLiteral("a row without an employee id"));

    vorna::v1::Calendar calendar;
    calendar.set_name(std::string(5000, 'c'));
    QCOMPARE(answerFault(calendar), QStringLiteral("a calendar name of 5000 bytes"));
}

int main(int argc, char *argv[])
{
    // A zone with summer time, so the civil-time cases cross an offset change.
    qputenv("TZ", "Europe/Belgrade");
    tzset();
    QCoreApplication app(argc, argv);
    TestOstrelParts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ostrelparts.moc"
