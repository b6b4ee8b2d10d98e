// ClientObjectQml against an in-process fake service: the order of its signals, the thread
// they arrive on, what it sends, and what it does when calls fail or the connection ends.

#include <ostrel/clientobjectqml.h>
#include "support/fakecommservice.h"
#include "support/http1responder.h"
#include "support/loopbacksocket.h"
#include <pindle/pindle.h>
#include "support/signalrecorder.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

#include <limits>
#include <memory>

namespace {

// A TCP listener on 127.0.0.1 that accepts the connection into its backlog and never speaks,
// or (closed) a port where nothing listens at all.
class SilentPort
{
public:
    explicit SilentPort(bool listening)
        : m_fd(bindLoopback(&m_port))
    {
        if (listening) {
            ::listen(m_fd, 8);
        } else {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~SilentPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int port() const { return m_port; }
    QString url() const { return QStringLiteral("tcp://127.0.0.1:%1/CommService").arg(m_port); }

private:
    int m_port = 0; // before m_fd: bindLoopback() fills it while m_fd is initialised
    int m_fd = -1;
};

} // namespace

class TestClientObjectQml : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestsWithoutConnectionAnswerLater();
    void malformedAddressesGiveOneFailure_data();
    void malformedAddressesGiveOneFailure();
    void closedPortIsReportedAsRefused();
    void silentServerTimesOut();
    void connectCanBeCancelled();
    void unreadableCertificateFileFailsTheConnect();
    void http1ServerGetsOurSentence();
    void loginAnswersEveryRequest();
    void unusableSessionTokensFailTheLogin();
    void presenceRowsArriveInOrderInBatches();
    void picturesAreCachedByDigest();
    void listsAndHistoriesConvertCivilTimes();
    void outOfRangeMomentsReachNoSignalAsDates();
    void absurdRowEndsTheAnswer();
    void assignmentsAnswerWithServiceText();
    void serviceErrorMidStreamStillEnds();
    void callDeadlineEndsAStalledStream();
    void lostServiceEndsStreamThenDisconnects();
    void serviceEndingSessionDisconnects();
    void presenceChangesReachTheGuiThread();
    void missingHeartbeatsDisconnect();
    void disconnectAnswersEverythingOwed();
    void disconnectWhenNotLoggedIn();
    void reconnectReplacesSession();
    void destroyingMidStreamReturnsPromptly();

private:
    void connectAndLogin();
    // The fake's presence answer: `count` rows with pictures of `pictureBytes`.
    void scriptRows(int count, int pictureBytes);
    void setTimeouts(int connectMs, int callMs);

    QTemporaryDir m_dir;
    std::unique_ptr<FakeCommService> m_service;
    std::unique_ptr<ClientObjectQml> m_client;
    std::unique_ptr<SignalRecorder> m_log;
};

void TestClientObjectQml::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(SettingsIniOpenAt(m_dir.filePath(QStringLiteral("pindle.ini"))));
    // Pictures in memory only: these tests count what one client instance holds.
    SettingsIniInstance()->setCachePicturesMB(0);
}

void TestClientObjectQml::init()
{
    setTimeouts(5000, 30000);
    m_service = std::make_unique<FakeCommService>();
    m_service->script().passwords = {{"manager", "secret pass"}};
    QVERIFY(m_service->start());
    m_client = std::make_unique<ClientObjectQml>();
    m_log = std::make_unique<SignalRecorder>(m_client.get());
}

void TestClientObjectQml::cleanup()
{
    m_log.reset();
    m_client.reset();
    m_service.reset();
}

void TestClientObjectQml::setTimeouts(int connectMs, int callMs)
{
    SettingsIniInstance()->setServiceConnectTimeoutMs(connectMs);
    SettingsIniInstance()->setServiceCallTimeoutMs(callMs);
}

void TestClientObjectQml::scriptRows(int count, int pictureBytes)
{
    for (int i = 0; i < count; ++i)
        m_service->script().presenceRows.push_back(fakePresenceRow(i, pictureBytes));
}

void TestClientObjectQml::connectAndLogin()
{
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected"));
    QCOMPARE(m_log->of("connected").last().args, (QVariantList{true, QString()}));
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
    QVERIFY(m_log->waitFor("dbLoginResponse"));
    QCOMPARE(m_log->of("dbLoginResponse").last().args.value(0).toBool(), true);
    QTRY_COMPARE(m_service->openWatches(), 1);
    m_log->clear();
}

void TestClientObjectQml::requestsWithoutConnectionAnswerLater()
{
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime::currentDateTime());
    m_client->dbCalendarListRequest();
    m_client->dbWorkDayListRequest();
    m_client->dbCalEmpHistRequest(QStringLiteral("E1"), 3, 2018);
    m_client->dbExceptionEmpHistRequest(QStringLiteral("E1"), 3, 2018);
    m_client->dbCalendarSetRequest(1, QStringLiteral("E1"), QDateTime::currentDateTime());
    m_client->dbWorkDaySetRequest(1, QStringLiteral("E1"), QDateTime::currentDateTime());
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
    m_client->disconnectFromService();
    QVERIFY2(m_log->entries().isEmpty(), "nothing may be emitted inside a request call");

    QVERIFY(m_log->waitFor("dbLoginResponse"));
    SignalRecorder::settle(100);
    QCOMPARE(m_log->shape(), (QStringList{
        "dbPresenceResponseBegin", "dbPresenceResponseEnd",
        "dbCalendarListResponseBegin", "dbCalendarListResponseEnd",
        "dbWorkDayListResponseBegin", "dbWorkDayListResponseEnd",
        "dbCalEmpHistResponseBegin", "dbCalEmpHistResponseEnd",
        "dbExceptionEmpHistResponseBegin", "dbExceptionEmpHistResponseEnd",
        "dbCalendarSetResponse", "dbWorkDaySetResponse", "dbLoginResponse"}));
    const QVariantList set = m_log->of("dbCalendarSetResponse").first().args;
    QCOMPARE(set.value(0).toBool(), false);
    QVERIFY(set.value(1).toString().startsWith(QStringLiteral("Not connected to the attendance service.")));
    QCOMPARE(m_log->of("dbLoginResponse").first().args.value(0).toBool(), false);
    QCOMPARE(m_log->count("disconnected"), 0); // nothing was connected, so nothing ends
}

void TestClientObjectQml::malformedAddressesGiveOneFailure_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("empty") << QString() << QStringLiteral("No service address");
    QTest::newRow("scheme") << QStringLiteral("http://127.0.0.1:50051/CommService") << QStringLiteral("http://127.0.0.1:50051/CommService");
    QTest::newRow("port") << QStringLiteral("tcp://127.0.0.1:70000/CommService") << QStringLiteral("\"70000\"");
    QTest::newRow("no port") << QStringLiteral("tcp://127.0.0.1/CommService") << QStringLiteral("port");
    QTest::newRow("path") << QStringLiteral("tcp://127.0.0.1:50051/OtherService") << QStringLiteral("/OtherService");
    QTest::newRow("host") << QStringLiteral("tcp://bad_host!:50051/CommService") << QStringLiteral("bad_host!");
}

void TestClientObjectQml::malformedAddressesGiveOneFailure()
{
    QFETCH(QString, url);
    QFETCH(QString, mentions);
    m_client->connectToServiceAsync(url);
    QVERIFY(m_log->entries().isEmpty());
    QVERIFY(m_log->waitFor("connected"));
    SignalRecorder::settle(100);
    QCOMPARE(m_log->names(), (QList<QByteArray>{"connected"}));
    const QVariantList args = m_log->entries().first().args;
    QCOMPARE(args.value(0).toBool(), false);
    QVERIFY2(args.value(1).toString().contains(mentions), qPrintable(args.value(1).toString()));
    QVERIFY(args.value(1).toString().endsWith(QLatin1Char('.')));
}

void TestClientObjectQml::closedPortIsReportedAsRefused()
{
    const SilentPort closed(false);
    QElapsedTimer clock;
    clock.start();
    m_client->connectToServiceAsync(closed.url());
    QVERIFY(m_log->waitFor("connected"));
    QVERIFY2(clock.elapsed() < 4000, "a refused connection must not wait for the time-out");
    QCOMPARE(m_log->entries().first().args.value(1).toString(),
             QStringLiteral("Cannot reach the attendance service at 127.0.0.1:%1 (connection refused). Is the service running?")
                 .arg(closed.port()));
    SignalRecorder::settle(100);
    QCOMPARE(m_log->entries().size(), 1);
}

void TestClientObjectQml::silentServerTimesOut()
{
    setTimeouts(800, 30000);
    const SilentPort silent(true);
    m_client->connectToServiceAsync(silent.url());
    QVERIFY(m_log->waitFor("connected", 1, 5000));
    const QVariantList args = m_log->entries().first().args;
    QCOMPARE(args.value(0).toBool(), false);
    QCOMPARE(args.value(1).toString(),
             QStringLiteral("Cannot reach the attendance service at 127.0.0.1:%1 (no answer within 1 second). Is the service running?")
                 .arg(silent.port()));
}

void TestClientObjectQml::connectCanBeCancelled()
{
    const SilentPort silent(true);
    m_client->connectToServiceAsync(silent.url());
    SignalRecorder::settle(100);
    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("connected"));
    SignalRecorder::settle(300);
    QCOMPARE(m_log->names(), (QList<QByteArray>{"connected"}));
    QVERIFY(m_log->entries().first().args.value(1).toString().contains(QStringLiteral("was cancelled")));

    // A new attempt replaces a pending one: the old one is answered as cancelled, the new one for itself.
    m_log->clear();
    m_client->connectToServiceAsync(silent.url());
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected", 2));
    QCOMPARE(m_log->of("connected").at(0).args.value(0).toBool(), false);
    QCOMPARE(m_log->of("connected").at(1).args, (QVariantList{true, QString()}));
}

void TestClientObjectQml::unreadableCertificateFileFailsTheConnect()
{
    Settings *settings = SettingsIniInstance();
    settings->setServiceTls(true);
    settings->setServiceCaFile(m_dir.filePath(QStringLiteral("missing-ca.pem")));
    m_client->connectToServiceAsync(m_service->url());
    const bool answered = m_log->waitFor("connected");
    settings->setServiceTls(false);
    settings->setServiceCaFile(QString());
    QVERIFY(answered);
    const QVariantList args = m_log->entries().first().args;
    QCOMPARE(args.value(0).toBool(), false);
    QVERIFY2(args.value(1).toString().contains(QStringLiteral("missing-ca.pem")), qPrintable(args.value(1).toString()));
    QVERIFY(args.value(1).toString().contains(QStringLiteral("service/caFile")));
}

void TestClientObjectQml::http1ServerGetsOurSentence()
{
    const Http1Responder web;
    QVERIFY(web.isListening());
    m_client->connectToServiceAsync(web.url());
    QVERIFY(m_log->waitFor("connected"));
    QCOMPARE(m_log->entries().first().args,
             (QVariantList{false, QStringLiteral("Cannot reach the attendance service at 127.0.0.1:%1 (the server there speaks HTTP/1, not gRPC). "
                                                 "Check that the server and port point at a VornaPanel attendance service.")
                                      .arg(web.port())}));
}

void TestClientObjectQml::loginAnswersEveryRequest()
{
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected"));
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime::currentDateTime());
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("wrong"));
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
    QVERIFY(m_log->waitFor("dbLoginResponse", 2));
    QCOMPARE(m_log->shape(), (QStringList{"connected", "dbPresenceResponseBegin", "dbPresenceResponseEnd",
                                          "dbLoginResponse*2"}));
    QCOMPARE(m_log->of("dbLoginResponse").at(0).args.value(0).toBool(), false);
    QCOMPARE(m_log->of("dbLoginResponse").at(1).args.value(0).toBool(), true);
    QTRY_COMPARE(m_service->openWatches(), 1);
    // The session stream carries the token that the login handed out.
    QCOMPARE(m_service->sessionTokensSeen().back(), std::string("token-1"));
}

void TestClientObjectQml::unusableSessionTokensFailTheLogin()
{
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected"));
    const std::string badTokens[] = {"token\nwith-newline", std::string("token\0with-nul", 14)};
    int answers = 0;
    for (const std::string &token : badTokens) {
        m_service->script().sessionToken = token;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral(
            "Login failed: The attendance service at 127.0.0.1:%1 sent an unusable session token. "
            "Check that the address points at a VornaPanel attendance service.").arg(m_service->port())));
        m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
        QVERIFY(m_log->waitFor("dbLoginResponse", ++answers));
        QCOMPARE(m_log->of("dbLoginResponse").last().args.value(0).toBool(), false);
    }
    // The token never went back to the service, and the connection still serves a login.
    m_service->script().sessionToken.clear();
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
    QVERIFY(m_log->waitFor("dbLoginResponse", ++answers));
    QCOMPARE(m_log->of("dbLoginResponse").last().args.value(0).toBool(), true);
    QTRY_COMPARE(m_service->openWatches(), 1);
    QCOMPARE(m_service->sessionTokensSeen(), std::vector<std::string>{"token-3"});
}

void TestClientObjectQml::presenceRowsArriveInOrderInBatches()
{
    scriptRows(1000, 64);
    m_service->script().rowsPerChunk = 100;
    connectAndLogin();

    int queuedEvents = 0;
    struct Counter : QObject {
        int *count;
        bool eventFilter(QObject *, QEvent *event) override
        {
            *count += event->type() == QEvent::MetaCall;
            return false;
        }
    } counter;
    counter.count = &queuedEvents;
    m_client->installEventFilter(&counter);

    const QDateTime at(QDate(2018, 3, 5), QTime(9, 30, 15, 500), Qt::LocalTime);
    m_client->dbPresenceRequest(QStringLiteral("manager"), at);
    QVERIFY(m_log->entries().isEmpty());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    m_client->removeEventFilter(&counter);

    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*1000", "dbPresenceResponseEnd"}));
    for (const SignalRecorder::Entry &entry : m_log->entries())
        QVERIFY2(entry.onRecorderThread, entry.name.constData());
    // One queued event per batch of rows, not per row.
    QVERIFY2(queuedEvents <= 12, qPrintable(QString::number(queuedEvents)));

    const QVector<SignalRecorder::Entry> rows = m_log->of("dbPresenceResponse");
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i).args.value(0).toString(), QString::fromStdString(fakePresenceRow(i, 0).employee_id()));
    const vorna::v1::PresenceRow expected = fakePresenceRow(7, 64);
    const QVariantList row = rows.at(7).args;
    QCOMPARE(row.value(1).toString(), QStringLiteral("Last7"));
    QCOMPARE(row.value(2).toString(), QStringLiteral("First7"));
    QCOMPARE(row.value(3).toDateTime(), QDateTime(QDate(2018, 3, 5), QTime(8, 0, 7), Qt::LocalTime));
    QCOMPARE(row.value(3).toDateTime().timeSpec(), Qt::LocalTime);
    QCOMPARE(row.value(4).toBool(), false);
    QCOMPARE(row.value(5).toString(), QStringLiteral("Arrival"));
    QCOMPARE(row.value(6).toString(), QStringLiteral("Department 0"));
    QCOMPARE(row.value(7).toByteArray(), QByteArray::fromStdString(expected.picture()));
    QCOMPARE(row.value(8).toString(), QStringLiteral("Present"));
    QCOMPARE(row.value(9).toInt(), expected.status_color());

    // The request: the wall clock of the local date-time, seconds only, and the session token.
    const vorna::v1::PresenceRequest sent = m_service->lastPresenceRequest();
    QCOMPARE(sent.user_name(), std::string("manager"));
    QVERIFY(sent.has_at());
    QCOMPARE(sent.at().seconds(), QDateTime(QDate(2018, 3, 5), QTime(9, 30, 15), Qt::UTC).toSecsSinceEpoch());
    QCOMPARE(m_service->sessionTokensSeen().back(), std::string("token-1"));

    // An invalid date-time asks for "now": no moment is sent.
    m_log->clear();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QVERIFY(!m_service->lastPresenceRequest().has_at());
}

void TestClientObjectQml::picturesAreCachedByDigest()
{
    scriptRows(300, 5000);
    auto &rows = m_service->script().presenceRows;
    rows[5].clear_picture();
    rows[5].clear_picture_digest(); // an employee without a picture
    connectAndLogin();

    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QCOMPARE(m_service->lastPresenceRequest().known_picture_digests_size(), 0);
    const QVector<SignalRecorder::Entry> cold = m_log->of("dbPresenceResponse");

    // Second time every picture is known, the service leaves the bytes out, and the rows still carry them.
    m_log->clear();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QCOMPARE(m_service->lastPresenceRequest().known_picture_digests_size(), 299);
    const QVector<SignalRecorder::Entry> warm = m_log->of("dbPresenceResponse");
    QCOMPARE(warm.size(), cold.size());
    for (int i = 0; i < warm.size(); ++i)
        QCOMPARE(warm.at(i).args.value(7).toByteArray(), cold.at(i).args.value(7).toByteArray());
    QVERIFY(warm.at(5).args.value(7).toByteArray().isEmpty());
    QCOMPARE(warm.at(6).args.value(7).toByteArray().size(), 5000);

    // Only the pictures of the latest answer are kept.
    rows.resize(10);
    m_log->clear();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 2));
    QCOMPARE(m_service->lastPresenceRequest().known_picture_digests_size(), 9);
}

void TestClientObjectQml::listsAndHistoriesConvertCivilTimes()
{
    auto &script = m_service->script();
    vorna::v1::Calendar calendar;
    calendar.set_id(4);
    calendar.set_name("Shift A");
    script.calendars = {calendar, calendar};
    script.calendars[1].set_id(5);
    script.calendars[1].set_name("Shift B");
    vorna::v1::WorkDayKind kind;
    kind.set_id(9);
    kind.set_name("Holiday");
    script.workDayKinds = {kind};
    vorna::v1::CalendarRange range;
    range.set_calendar_name("Shift A");
    range.set_calendar_color(0x0000ff);
    const qint64 march1 = QDateTime(QDate(2018, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    range.mutable_valid_begin()->set_seconds(march1);
    range.mutable_valid_end()->set_seconds(march1 + 9 * 86400);
    vorna::v1::CalendarRange open = range;
    open.clear_valid_end();
    script.calendarRanges = {range, open};
    vorna::v1::ExceptionDay day;
    day.set_day_name("Holiday");
    day.set_day_color(0x00ff00);
    day.mutable_day()->set_year(2018);
    day.mutable_day()->set_month(3);
    day.mutable_day()->set_day(25);
    vorna::v1::ExceptionDay noDay = day;
    noDay.mutable_day()->set_month(2);
    noDay.mutable_day()->set_day(30);
    script.exceptionDays = {day, noDay};
    connectAndLogin();

    m_client->dbCalendarListRequest();
    m_client->dbWorkDayListRequest();
    m_client->dbCalEmpHistRequest(QStringLiteral("E00007"), 3, 2018);
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd"));
    QCOMPARE(m_service->lastMonthRequest().employee_id(), std::string("E00007"));
    QCOMPARE(m_service->lastMonthRequest().month(), 3);
    QCOMPARE(m_service->lastMonthRequest().year(), 2018);
    m_client->dbExceptionEmpHistRequest(QStringLiteral("E00007"), 3, 2018);
    QVERIFY(m_log->waitFor("dbExceptionEmpHistResponseEnd"));
    QVERIFY(m_log->waitFor("dbCalendarListResponseEnd"));
    QVERIFY(m_log->waitFor("dbWorkDayListResponseEnd"));

    // Each kind keeps its own Begin, rows, End sequence.
    for (const char *kindName : {"dbCalendarList", "dbWorkDayList", "dbCalEmpHist", "dbExceptionEmpHist"}) {
        QList<QByteArray> own;
        for (const QByteArray &name : m_log->names()) {
            if (name.startsWith(kindName))
                own.append(name);
        }
        QCOMPARE(own.first(), QByteArray(kindName) + "ResponseBegin");
        QCOMPARE(own.last(), QByteArray(kindName) + "ResponseEnd");
        QCOMPARE(own.count(QByteArray(kindName) + "ResponseBegin"), 1);
    }
    const auto calendars = m_log->of("dbCalendarListResponse");
    QCOMPARE(calendars.size(), 2);
    QCOMPARE(calendars.at(1).args, (QVariantList{5, QStringLiteral("Shift B")}));
    QCOMPARE(m_log->of("dbWorkDayListResponse").first().args, (QVariantList{9, QStringLiteral("Holiday")}));

    const auto ranges = m_log->of("dbCalEmpHistResponse");
    QCOMPARE(ranges.size(), 2);
    QCOMPARE(ranges.at(0).args.value(2).toDateTime(), QDateTime(QDate(2018, 3, 1), QTime(0, 0), Qt::LocalTime));
    QCOMPARE(ranges.at(0).args.value(3).toDateTime(), QDateTime(QDate(2018, 3, 10), QTime(0, 0), Qt::LocalTime));
    QVERIFY(!ranges.at(1).args.value(3).toDateTime().isValid());

    const auto days = m_log->of("dbExceptionEmpHistResponse");
    QCOMPARE(days.size(), 2);
    QCOMPARE(days.at(0).args.value(2).toDateTime(), QDateTime(QDate(2018, 3, 25), QTime(0, 0), Qt::LocalTime));
    QCOMPARE(days.at(0).args.value(2).toDateTime().toString(QStringLiteral("yyyy-MM-dd")), QStringLiteral("2018-03-25"));
    QVERIFY(!days.at(1).args.value(2).toDateTime().isValid()); // 30 February does not exist
}

void TestClientObjectQml::outOfRangeMomentsReachNoSignalAsDates()
{
    const qint64 yearZero = -62167219200; // 0000-01-01 00:00:00
    const qint64 outside[] = {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(), yearZero};
    auto &script = m_service->script();
    for (int i = 0; i < 4; ++i)
        script.presenceRows.push_back(fakePresenceRow(i, 0));
    for (int i = 0; i < 3; ++i)
        script.presenceRows[i].mutable_last_activity()->set_seconds(outside[i]);
    vorna::v1::CalendarRange range;
    range.set_calendar_name("Shift A");
    range.mutable_valid_begin()->set_seconds(std::numeric_limits<qint64>::max());
    range.mutable_valid_end()->set_seconds(yearZero);
    script.calendarRanges = {range};
    vorna::v1::ExceptionDay day;
    day.set_day_name("Holiday");
    day.mutable_day()->set_year(0);
    day.mutable_day()->set_month(1);
    day.mutable_day()->set_day(1);
    script.exceptionDays = {day, day};
    script.exceptionDays[1].mutable_day()->set_year(10000);
    connectAndLogin();

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^The attendance service sent 3 presence rows whose last activity is not a valid date")));
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    m_client->dbCalEmpHistRequest(QStringLiteral("E00001"), 3, 2018);
    m_client->dbExceptionEmpHistRequest(QStringLiteral("E00001"), 3, 2018);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd"));
    QVERIFY(m_log->waitFor("dbExceptionEmpHistResponseEnd"));

    // Out-of-range moments arrive as "no date"; the row itself and in-range moments stand.
    const auto rows = m_log->of("dbPresenceResponse");
    QCOMPARE(rows.size(), 4);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(!rows.at(i).args.value(3).toDateTime().isValid(), qPrintable(rows.at(i).args.value(3).toDateTime().toString()));
    QCOMPARE(rows.at(3).args.value(3).toDateTime().date(), QDate(2018, 3, 5));
    const QVariantList ranged = m_log->of("dbCalEmpHistResponse").value(0).args;
    QVERIFY(!ranged.value(2).toDateTime().isValid());
    QVERIFY(!ranged.value(3).toDateTime().isValid());
    const auto days = m_log->of("dbExceptionEmpHistResponse");
    QCOMPARE(days.size(), 2);
    for (const SignalRecorder::Entry &entry : days)
        QVERIFY(!entry.args.value(2).toDateTime().isValid());
}

void TestClientObjectQml::absurdRowEndsTheAnswer()
{
    scriptRows(6, 10);
    m_service->script().rowsPerChunk = 3;
    m_service->script().presenceRows[4].set_employee_id(std::string(1 << 20, 'x'));
    connectAndLogin();
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral(
        "Request ended early: The attendance service at 127.0.0.1:%1 sent a malformed answer (an employee id of 1048576 bytes), "
        "so the rest of it was dropped. Check that the address points at a VornaPanel attendance service.").arg(m_service->port())));
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    SignalRecorder::settle(100);
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*3", "dbPresenceResponseEnd"}));
}

void TestClientObjectQml::assignmentsAnswerWithServiceText()
{
    connectAndLogin();
    // Late evening, local: the day is the local calendar day, whatever the zone.
    const QDateTime evening(QDate(2017, 12, 21), QTime(23, 30), Qt::LocalTime);
    m_client->dbCalendarSetRequest(4, QStringLiteral("E00007"), evening);
    QVERIFY(m_log->waitFor("dbCalendarSetResponse"));
    QCOMPARE(m_log->of("dbCalendarSetResponse").first().args, (QVariantList{true, QString()}));
    const vorna::v1::SetCalendarRequest sent = m_service->lastSetCalendar();
    QCOMPARE(sent.calendar_id(), 4);
    QCOMPARE(sent.employee_id(), std::string("E00007"));
    QCOMPARE(sent.valid_from().year(), 2017);
    QCOMPARE(sent.valid_from().month(), 12);
    QCOMPARE(sent.valid_from().day(), 21);

    const std::string refusal = "Only a manager may change calendars. Ask a manager to make this change.";
    m_service->script().setStatus = grpc::Status(grpc::StatusCode::PERMISSION_DENIED, refusal);
    m_client->dbWorkDaySetRequest(9, QStringLiteral("E00007"), QDateTime(QDate(2018, 3, 25), QTime(0, 0)));
    QVERIFY(m_log->waitFor("dbWorkDaySetResponse"));
    QCOMPARE(m_log->of("dbWorkDaySetResponse").first().args,
             (QVariantList{false, QString::fromStdString(refusal)}));
    QCOMPARE(m_service->lastSetWorkDay().day().day(), 25);

    // No valid day: refused here, nothing is sent.
    m_client->dbWorkDaySetRequest(9, QStringLiteral("E00007"), QDateTime());
    QVERIFY(m_log->waitFor("dbWorkDaySetResponse", 2));
    QCOMPARE(m_log->of("dbWorkDaySetResponse").last().args.value(0).toBool(), false);
    QVERIFY(m_log->of("dbWorkDaySetResponse").last().args.value(1).toString().contains(QStringLiteral("No valid day")));
}

void TestClientObjectQml::serviceErrorMidStreamStillEnds()
{
    scriptRows(500, 10);
    m_service->script().presenceFailAfterChunks = 1;
    connectAndLogin();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    SignalRecorder::settle(200);
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*200", "dbPresenceResponseEnd"}));

    // The session stands: the next request gets its rows.
    m_service->script().presenceFailAfterChunks = -1;
    m_log->clear();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QCOMPARE(m_log->count("dbPresenceResponse"), 500);
}

void TestClientObjectQml::callDeadlineEndsAStalledStream()
{
    setTimeouts(5000, 700);
    scriptRows(300, 10);
    m_service->script().presenceStallAfterChunks = 1;
    connectAndLogin();
    QElapsedTimer clock;
    clock.start();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 1, 10000));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*200", "dbPresenceResponseEnd"}));
    QCOMPARE(m_log->count("disconnected"), 0);
}

void TestClientObjectQml::lostServiceEndsStreamThenDisconnects()
{
    scriptRows(1000, 10);
    m_service->script().presenceStallAfterChunks = 2;
    connectAndLogin();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponse", 400));
    m_service->stop();
    QVERIFY(m_log->waitFor("disconnected"));
    SignalRecorder::settle(300);
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*400", "dbPresenceResponseEnd",
                                          "disconnected"}));
    QVERIFY2(m_client->disconnectReason().contains(QStringLiteral("127.0.0.1")), qPrintable(m_client->disconnectReason()));

    // Afterwards requests answer as "not connected", and a disconnect has nothing more to end.
    m_log->clear();
    m_client->dbCalendarListRequest();
    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("dbCalendarListResponseEnd"));
    SignalRecorder::settle(100);
    QCOMPARE(m_log->shape(), (QStringList{"dbCalendarListResponseBegin", "dbCalendarListResponseEnd"}));
}

void TestClientObjectQml::serviceEndingSessionDisconnects()
{
    connectAndLogin();
    m_service->endSessions("Your session has expired. Log in again.");
    QVERIFY(m_log->waitFor("disconnected"));
    SignalRecorder::settle(200);
    QCOMPARE(m_log->names(), (QList<QByteArray>{"disconnected"}));
    QCOMPARE(m_service->logoutCount(), 0); // the service ended it; nothing to log out from
    QCOMPARE(m_client->disconnectReason(), QStringLiteral("Your session has expired. Log in again."));
}

void TestClientObjectQml::presenceChangesReachTheGuiThread()
{
    connectAndLogin();
    m_service->announcePresenceChange();
    QVERIFY(m_log->waitFor("presenceChanged"));
    QVERIFY(m_log->of("presenceChanged").first().onRecorderThread);
    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("disconnected"));
    QCOMPARE(m_client->disconnectReason(), QString()); // asked for: no reason to show
}

void TestClientObjectQml::missingHeartbeatsDisconnect()
{
    m_service->script().heartbeatSeconds = 1;
    m_service->script().silentWatch = true;
    connectAndLogin();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_log->waitFor("disconnected", 1, 10000));
    QVERIFY2(clock.elapsed() >= 2000, "three heartbeats may be missed before the session counts as lost");
    QCOMPARE(m_log->names(), (QList<QByteArray>{"disconnected"}));
}

void TestClientObjectQml::disconnectAnswersEverythingOwed()
{
    scriptRows(600, 10);
    m_service->script().presenceStallAfterChunks = 1;
    connectAndLogin();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime()); // waits for the first
    QVERIFY(m_log->waitFor("dbPresenceResponse", 200));
    m_client->dbCalendarSetRequest(4, QStringLiteral("E00001"), QDateTime::currentDateTime());
    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("disconnected"));
    SignalRecorder::settle(300);
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponse*200", "dbPresenceResponseEnd",
                                          "dbPresenceResponseBegin", "dbPresenceResponseEnd",
                                          "dbCalendarSetResponse", "disconnected"}));
    const QVariantList set = m_log->of("dbCalendarSetResponse").first().args;
    QCOMPARE(set.value(0).toBool(), false);
    QVERIFY(!set.value(1).toString().isEmpty());
    QTRY_COMPARE(m_service->logoutCount(), 1);

    m_log->clear();
    m_client->disconnectFromService();
    SignalRecorder::settle(200);
    QVERIFY(m_log->entries().isEmpty());
}

void TestClientObjectQml::disconnectWhenNotLoggedIn()
{
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected"));
    m_client->dbLoginRequest(QStringLiteral("manager"), QStringLiteral("wrong"));
    QVERIFY(m_log->waitFor("dbLoginResponse"));
    m_client->disconnectFromService();
    QVERIFY(m_log->entries().size() == 2);
    QVERIFY(m_log->waitFor("disconnected"));
    SignalRecorder::settle(200);
    QCOMPARE(m_log->names(), (QList<QByteArray>{"connected", "dbLoginResponse", "disconnected"}));
}

void TestClientObjectQml::reconnectReplacesSession()
{
    connectAndLogin();
    m_client->connectToServiceAsync(m_service->url());
    QVERIFY(m_log->waitFor("connected"));
    QCOMPARE(m_log->names(), (QList<QByteArray>{"disconnected", "connected"}));
    QTRY_COMPARE(m_service->logoutCount(), 1);
    QTRY_COMPARE(m_service->openWatches(), 0);
    // The new connection has no session until it logs in.
    m_log->clear();
    m_client->dbWorkDayListRequest();
    QVERIFY(m_log->waitFor("dbWorkDayListResponseEnd"));
    QCOMPARE(m_log->names(), (QList<QByteArray>{"dbWorkDayListResponseBegin", "dbWorkDayListResponseEnd"}));
}

void TestClientObjectQml::destroyingMidStreamReturnsPromptly()
{
    scriptRows(600, 10);
    m_service->script().presenceStallAfterChunks = 1;
    connectAndLogin();
    m_client->dbPresenceRequest(QStringLiteral("manager"), QDateTime());
    QVERIFY(m_log->waitFor("dbPresenceResponse", 200));
    QElapsedTimer clock;
    clock.start();
    m_log.reset();
    m_client.reset();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(m_service->logoutCount(), 1);
}

QTEST_GUILESS_MAIN(TestClientObjectQml)
#include "tst_clientobjectqml.moc"
