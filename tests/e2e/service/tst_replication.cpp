// Two built service instances on a primary PostgreSQL with a synchronous standby, both named in
// one multi-host connection string, while a terminal registers every 50 ms on the first and a
// panel watches its session stream on the second. The primary fails and the standby is
// promoted; then the new primary restarts. No acknowledged registration may be lost, refusals
// meanwhile must be UNAVAILABLE with a sentence, a registration the terminal sends again after a
// refusal must be stored once, the session must go on on both instances, and the panel must hear
// of presence changes again within seconds of the writes.

#include "support/failoverrig.h"

#include <QtTest>

#include <map>
#include <set>

using namespace vorna::testing;
using namespace std::chrono_literals;

namespace {

constexpr int TerminalInstance = 0;
constexpr int PanelInstance = 1;
// What an outage may cost: the writes are back this long after the database is, and the
// panel hears again this long after the writes are back.
constexpr auto WritesBackWithin = 10s;
constexpr auto EventsBackWithin = 2s;
// How long the checks wait for anything at all, on a loaded machine.
constexpr auto Patience = 30s;

double secondsBetween(FailoverClock::time_point from, FailoverClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

bool isSentence(const std::string &text)
{
    return text.size() > 1 && std::isupper(static_cast<unsigned char>(text.front())) && text.back() == '.';
}

} // namespace

class TestReplication : public QObject
{
    Q_OBJECT

private:
    FailoverRig m_rig;
    std::string m_session;
    std::unique_ptr<SessionStreamRecorder> m_panel;

    // Waits until every instance listens for presence changes on the primary.
    bool waitForListeners(ReplicatedPostgres::Node primary)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (m_rig.database().value(primary, QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE query LIKE 'LISTEN %'"))
                == QString::number(FailoverRig::Instances))
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    // The outage that `interrupt` causes: the writes come back within WritesBackWithin of its
    // end, and the panel hears within EventsBackWithin of the writes.
    void checkRecovery(const char *outage, TerminalLoop &terminal, const std::function<bool()> &interrupt)
    {
        QVERIFY2(interrupt(), qPrintable(m_rig.database().error()));
        const FailoverClock::time_point databaseBack = FailoverClock::now();
        const auto writesBack = terminal.acknowledgedAfter(databaseBack, Patience);
        QVERIFY2(writesBack, qPrintable(QStringLiteral("%1: no registration was acknowledged within %2 s of the database "
                                                       "taking writes again.\n%3")
                                            .arg(QLatin1String(outage))
                                            .arg(Patience.count())
                                            .arg(m_rig.instance(TerminalInstance).log().right(3000))));
        const auto eventsBack = m_panel->presenceChangedAfter(*writesBack, Patience);
        QVERIFY2(eventsBack, qPrintable(QStringLiteral("%1: the panel heard of no presence change after the writes came "
                                                       "back.\n%2")
                                            .arg(QLatin1String(outage), m_rig.instance(PanelInstance).log().right(3000))));
        qInfo("%s: writes back %.2f s after the database, events %.2f s after the writes", outage,
              secondsBetween(databaseBack, *writesBack), secondsBetween(*writesBack, *eventsBack));
        QVERIFY(*writesBack - databaseBack <= WritesBackWithin);
        QVERIFY(*eventsBack - *writesBack <= EventsBackWithin);
    }

private slots:
    void initTestCase()
    {
        if (ReplicatedPostgres::serverPrograms().isEmpty())
            QSKIP("PostgreSQL's server programs (initdb, pg_ctl, pg_basebackup under /usr/lib/postgresql/*/bin) are not "
                  "installed; tools/bootstrap.sh installs them.");
        QVERIFY2(m_rig.start(), qPrintable(m_rig.error()));
        m_session = m_rig.logIn(TerminalInstance);
        QVERIFY2(!m_session.empty(), qPrintable(m_rig.error()));
        m_panel = std::make_unique<SessionStreamRecorder>(m_rig.instance(PanelInstance).address(), m_session);
        QVERIFY2(m_panel->waitUntilOpen(Patience), qPrintable(m_panel->ending()));
    }

    // Nothing is written, yet changes made while an instance did not listen went unheard: its
    // panels are told to reload.
    void gapInListeningAloneTellsThePanels()
    {
        QVERIFY(waitForListeners(ReplicatedPostgres::First));
        const FailoverClock::time_point cut = FailoverClock::now();
        QVERIFY2(!m_rig.database()
                      .column(ReplicatedPostgres::First,
                              QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE 'LISTEN %'"))
                      .isEmpty(),
                 qPrintable(m_rig.database().error()));
        QVERIFY2(m_panel->presenceChangedAfter(cut, Patience), qPrintable(m_rig.instance(PanelInstance).log().right(3000)));
    }

    void failoverLosesNoAcknowledgedRegistration()
    {
        ReplicatedPostgres &database = m_rig.database();
        const std::unique_ptr<TerminalLoop> terminal = m_rig.startTerminal(TerminalInstance);
        const FailoverClock::time_point started = FailoverClock::now();
        QVERIFY2(terminal->acknowledgedAfter(started, Patience), "The terminal's registrations are not acknowledged.");
        QVERIFY2(m_panel->presenceChangedAfter(started, Patience), "The panel hears nothing of the registrations.");
        std::this_thread::sleep_for(1s);

        checkRecovery("failover", *terminal, [&] {
            // A second passes before the standby takes over, as it would for whoever decides.
            const bool crashed = database.crash(ReplicatedPostgres::First);
            std::this_thread::sleep_for(1s);
            return crashed && database.promote(ReplicatedPostgres::Second);
        });
        if (QTest::currentTestFailed())
            return;
        std::this_thread::sleep_for(2s);
        // Right after it, a second outage: the new primary restarts, ending every connection.
        checkRecovery("restart", *terminal, [&] { return database.restart(ReplicatedPostgres::Second); });
        if (QTest::currentTestFailed())
            return;
        std::this_thread::sleep_for(2s);
        // And a third, of no time at all: every connection is cut, the server stays.
        checkRecovery("connections cut", *terminal, [&] {
            return !database.column(ReplicatedPostgres::Second, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                                               " WHERE backend_type = 'client backend' AND pid <> pg_backend_pid()"))
                        .isEmpty();
        });
        if (QTest::currentTestFailed())
            return;
        std::this_thread::sleep_for(500ms);
        terminal->stop();

        std::set<qint64> acknowledged;
        std::map<size_t, qint64> registrationOfRequest;
        int refused = 0;
        for (const RegistrationCall &call : terminal->calls()) {
            if (call.code == grpc::StatusCode::OK) {
                acknowledged.insert(call.registrationId);
                registrationOfRequest.emplace(call.request, call.registrationId);
                continue;
            }
            if (++refused == 1)
                qInfo("The first refusal: %s", call.message.c_str());
            QVERIFY2(call.code == grpc::StatusCode::UNAVAILABLE && isSentence(call.message),
                     qPrintable(QStringLiteral("code %1: %2").arg(int(call.code)).arg(QString::fromStdString(call.message))));
        }
        QVERIFY2(refused > 0, "The outages refused no registration, so they were not tested.");
        std::set<qint64> stored;
        for (const QString &id : database.column(ReplicatedPostgres::Second, QStringLiteral("SELECT id FROM registrations")))
            stored.insert(id.toLongLong());
        std::vector<qint64> lost;
        std::set_difference(acknowledged.begin(), acknowledged.end(), stored.begin(), stored.end(), std::back_inserter(lost));
        qInfo("%zu registrations acknowledged, %d refused, %zu lost", acknowledged.size(), refused, lost.size());
        QVERIFY2(lost.empty(), qPrintable(QStringLiteral("%1 acknowledged registrations are gone, the first %2.")
                                              .arg(lost.size())
                                              .arg(lost.empty() ? 0 : lost.front())));

        // The terminal sent every refused registration again: whether or not the first try was
        // stored, each of its registrations is stored once.
        QCOMPARE(acknowledged.size(), registrationOfRequest.size());
        const QStringList storedSinceTheFirst = database.column(
            ReplicatedPostgres::Second,
            QStringLiteral("SELECT COUNT(*) FROM registrations WHERE id >= %1").arg(*acknowledged.begin()));
        QCOMPARE(storedSinceTheFirst.value(0).toLongLong(), qint64(registrationOfRequest.size()));

        for (int instance = 0; instance < FailoverRig::Instances; ++instance) {
            const grpc::Status status = m_rig.useSession(instance, m_session);
            QVERIFY2(status.ok(), qPrintable(QStringLiteral("instance %1: %2").arg(instance).arg(QString::fromStdString(status.error_message()))));
        }
        QVERIFY2(m_panel->ending().isEmpty(), qPrintable(m_panel->ending()));
    }

    void cleanupTestCase()
    {
        m_panel.reset();
    }
};

QTEST_GUILESS_MAIN(TestReplication)
#include "tst_replication.moc"
