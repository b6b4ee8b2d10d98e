// Presence at a moment: the last registration at or before it, the "No registration" rows,
// the stale rule, the department scope, the order of the rows and the picture bytes; and the
// registrations of terminals, stored once per request id.

#include "support/storagefixture.h"

#include <QCryptographicHash>

#include <atomic>
#include <thread>

using namespace vorna::service;

namespace {

const int greyNoRegistration = 0x009E9E9E;

} // namespace

class TestStoragePresence : public StorageTestCase
{
    Q_OBJECT

private slots:

    void lastRegistrationAtOrBeforeMoment_data();
    void lastRegistrationAtOrBeforeMoment();
    void backDatedRegistrationsDoNotHideNewerOnes();
    void sameSecondGoesToTheLaterStored();
    void employeeWithoutRegistrationIsListedAsNoRegistration();
    void recentAndOlderLastRegistrationsInOneAnswer();
    void staleRule_data();
    void staleRule();
    void departmentScope();
    void rowsSortedByLastNameFirstNameId();
    void knownPictureDigestsOmitBytes();
    void picturesOfManyEmployeesGoToTheirOwnRows();
    void pagesAreCutByRowsAndPictureBytesAndJoinUpToTheWholeAnswer();
    void invalidQueriesAreRefused();
    void terminalRequestIds_data();
    void terminalRequestIds();
    void concurrentRepeatsStoreOneRegistration();
    void requestIdsAreKeptForADay();

private:
    using TerminalRegistration = PresenceStore::TerminalRegistration;
    qint64 addTerminal(const QString &name);
    TerminalRegistration registerFromTerminal(qint64 terminal, const QString &requestId,
                                              const QDateTime &nowUtc = QDateTime::currentDateTimeUtc());
    int registrationsStored();
    void seed() override;
    struct Reference
    {
        qint64 production = 0;
        qint64 sales = 0;
        qint64 arrival = 0;
        qint64 breakStart = 0;
        qint64 departure = 0;
    };

    void addEmployee(const QString &id, const QString &last, const QString &first, qint64 department,
                     const QByteArray &picture = {});
    void addRegistration(const QString &employee, const QString &at, qint64 kind);
    QVector<PresenceRow> presence(const PresenceQuery &query, const User &user = managerOfAll());
    QVector<PresenceRow> presenceAt(const QString &at) { return presence({civilTime(at), 1, {}}); }
    static const PresenceRow *row(const QVector<PresenceRow> &rows, const QString &employee);

    Reference m_ref;
};

void TestStoragePresence::seed()
{
    Database &s = m_fixture.storage();
    Department production{0, QStringLiteral("Production")};
    Department sales{0, QStringLiteral("Sales")};
    PresenceStatus present{0, QStringLiteral("Present"), 0x0047A043};
    PresenceStatus onBreak{0, QStringLiteral("On break"), 0x0000B3FF};
    PresenceStatus absent{0, QStringLiteral("Absent"), 0x003539E5};
    STORAGE_OK(s.organisation().addDepartment(production));
    STORAGE_OK(s.organisation().addDepartment(sales));
    STORAGE_OK(s.organisation().addPresenceStatus(present));
    STORAGE_OK(s.organisation().addPresenceStatus(onBreak));
    STORAGE_OK(s.organisation().addPresenceStatus(absent));
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    ActivityKind breakStart{0, QStringLiteral("Break start"), onBreak.id};
    ActivityKind departure{0, QStringLiteral("Departure"), absent.id};
    STORAGE_OK(s.organisation().addActivityKind(arrival));
    STORAGE_OK(s.organisation().addActivityKind(breakStart));
    STORAGE_OK(s.organisation().addActivityKind(departure));
    m_ref = {production.id, sales.id, arrival.id, breakStart.id, departure.id};
}

void TestStoragePresence::addEmployee(const QString &id, const QString &last, const QString &first, qint64 department,
                                      const QByteArray &picture)
{
    STORAGE_OK(m_fixture.storage().organisation().addEmployees({{id, last, first, department, picture, {}, {}}}));
}

void TestStoragePresence::addRegistration(const QString &employee, const QString &at, qint64 kind)
{
    qint64 id = 0;
    STORAGE_OK(takeInto(id, m_fixture.storage().organisation().addRegistration({employee, civilTime(at), kind, QStringLiteral("test")})));
    QVERIFY(id > 0);
}

QVector<PresenceRow> TestStoragePresence::presence(const PresenceQuery &query, const User &user)
{
    QVector<PresenceRow> rows;
    const StorageError error = m_fixture.storage().presence().presence(user, query, [&](const PresenceRow &r) { rows << r; });
    if (!error.ok())
        qWarning("%s", qPrintable(error.message));
    return rows;
}

const PresenceRow *TestStoragePresence::row(const QVector<PresenceRow> &rows, const QString &employee)
{
    for (const PresenceRow &r : rows) {
        if (r.employeeId == employee)
            return &r;
    }
    return nullptr;
}

void TestStoragePresence::lastRegistrationAtOrBeforeMoment_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QString>("expectedAt");
    QTest::addColumn<QString>("expectedActivity");
    QTest::addColumn<QString>("expectedStatus");
    QTest::addColumn<int>("expectedColor");

    QTest::newRow("between arrival and break") << "2024-03-05T10:00:00" << "2024-03-05T07:58:00" << "Arrival" << "Present" << 0x0047A043;
    QTest::newRow("exactly at the break") << "2024-03-05T12:00:00" << "2024-03-05T12:00:00" << "Break start" << "On break" << 0x0000B3FF;
    QTest::newRow("one second before the break") << "2024-03-05T11:59:59" << "2024-03-05T07:58:00" << "Arrival" << "Present" << 0x0047A043;
    QTest::newRow("later ones are ignored") << "2024-03-05T23:00:00" << "2024-03-05T16:05:00" << "Departure" << "Absent" << 0x003539E5;
    QTest::newRow("next day") << "2024-03-06T09:00:00" << "2024-03-06T08:01:00" << "Arrival" << "Present" << 0x0047A043;
}

void TestStoragePresence::lastRegistrationAtOrBeforeMoment()
{
    QFETCH(QString, moment);
    QFETCH(QString, expectedAt);
    QFETCH(QString, expectedActivity);
    QFETCH(QString, expectedStatus);
    QFETCH(int, expectedColor);

    addEmployee(QStringLiteral("E1"), QStringLiteral("Petrović"), QStringLiteral("Ana"), m_ref.production);
    // Stored out of time order on purpose: the answer must not depend on insertion order.
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-06T08:01:00"), m_ref.arrival);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T12:00:00"), m_ref.breakStart);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T07:58:00"), m_ref.arrival);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T16:05:00"), m_ref.departure);

    const QVector<PresenceRow> rows = presenceAt(moment);
    QCOMPARE(rows.size(), 1);
    const PresenceRow &r = rows.first();
    QCOMPARE(r.employeeId, QStringLiteral("E1"));
    QCOMPARE(r.lastName, QStringLiteral("Petrović"));
    QCOMPARE(r.firstName, QStringLiteral("Ana"));
    QCOMPARE(r.department, QStringLiteral("Production"));
    QCOMPARE(r.lastActivity, civilTime(expectedAt));
    QCOMPARE(r.activityDescription, expectedActivity);
    QCOMPARE(r.status, expectedStatus);
    QCOMPARE(r.statusColor, expectedColor);
}

// Registrations arrive late (a terminal that was offline, an import): the newest one still
// answers for now, and the older ones for the moments they belong to.
void TestStoragePresence::backDatedRegistrationsDoNotHideNewerOnes()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Savić"), QStringLiteral("Teodora"), m_ref.production);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T10:00:00"), m_ref.departure);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T08:00:00"), m_ref.arrival);
    STORAGE_OK(m_fixture.storage().organisation().addRegistrations(
        {{QStringLiteral("E1"), civilTime(QStringLiteral("2024-03-05T07:00:00")), m_ref.breakStart, QString()},
         {QStringLiteral("E1"), civilTime(QStringLiteral("2024-03-04T18:00:00")), m_ref.arrival, QString()}}));

    QCOMPARE(presenceAt(QStringLiteral("2024-03-05T12:00:00")).first().activityDescription, QStringLiteral("Departure"));
    QCOMPARE(presenceAt(QStringLiteral("2024-03-05T09:00:00")).first().activityDescription, QStringLiteral("Arrival"));
    QCOMPARE(presenceAt(QStringLiteral("2024-03-05T07:30:00")).first().activityDescription, QStringLiteral("Break start"));
    QCOMPARE(presenceAt(QStringLiteral("2024-03-04T20:00:00")).first().lastActivity,
             civilTime(QStringLiteral("2024-03-04T18:00:00")));
}

// Two registrations in the same second: the one stored later counts, whether the moment asked
// about comes after all registrations or lies between them.
void TestStoragePresence::sameSecondGoesToTheLaterStored()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Savić"), QStringLiteral("Teodora"), m_ref.production);
    addEmployee(QStringLiteral("E2"), QStringLiteral("Tomić"), QStringLiteral("Vuk"), m_ref.production);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T09:00:00"), m_ref.arrival);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T09:00:00"), m_ref.breakStart);
    const QDateTime nine = civilTime(QStringLiteral("2024-03-05T09:00:00"));
    STORAGE_OK(m_fixture.storage().organisation().addRegistrations({{QStringLiteral("E2"), nine, m_ref.departure, QString()},
                                                     {QStringLiteral("E2"), nine, m_ref.arrival, QString()}}));

    QVector<PresenceRow> rows = presenceAt(QStringLiteral("2024-03-05T12:00:00"));
    QCOMPARE(rows.at(0).activityDescription, QStringLiteral("Break start"));
    QCOMPARE(rows.at(1).activityDescription, QStringLiteral("Arrival"));

    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T13:00:00"), m_ref.departure);
    addRegistration(QStringLiteral("E2"), QStringLiteral("2024-03-05T13:00:00"), m_ref.departure);
    rows = presenceAt(QStringLiteral("2024-03-05T12:00:00"));
    QCOMPARE(rows.at(0).activityDescription, QStringLiteral("Break start"));
    QCOMPARE(rows.at(1).activityDescription, QStringLiteral("Arrival"));
}

void TestStoragePresence::employeeWithoutRegistrationIsListedAsNoRegistration()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    addEmployee(QStringLiteral("E2"), QStringLiteral("Jovanović"), QStringLiteral("Ivana"), m_ref.sales);
    addEmployee(QStringLiteral("E3"), QStringLiteral("Kostić"), QStringLiteral("Luka"), m_ref.sales);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T08:00:00"), m_ref.arrival);
    // E2's only registration comes after the moment; E3 has none at all.
    addRegistration(QStringLiteral("E2"), QStringLiteral("2024-03-05T09:30:00"), m_ref.arrival);

    const QVector<PresenceRow> rows = presenceAt(QStringLiteral("2024-03-05T09:00:00"));
    QCOMPARE(rows.size(), 3);
    for (const QString &id : {QStringLiteral("E2"), QStringLiteral("E3")}) {
        const PresenceRow *r = row(rows, id);
        QVERIFY2(r, qPrintable(id));
        QCOMPARE(r->status, QStringLiteral("No registration"));
        QCOMPARE(r->statusColor, greyNoRegistration);
        QVERIFY(!r->lastActivity.isValid());
        QVERIFY(r->activityDescription.isEmpty());
        QVERIFY(!r->stale);
        QCOMPARE(r->department, QStringLiteral("Sales"));
    }
    QCOMPARE(row(rows, QStringLiteral("E1"))->status, QStringLiteral("Present"));
}

// A moment before some employees' latest registration: one registered earlier that day, one
// only days before, one never before. Each must get its own last registration at or before it.
void TestStoragePresence::recentAndOlderLastRegistrationsInOneAnswer()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    addEmployee(QStringLiteral("E2"), QStringLiteral("Jovanović"), QStringLiteral("Ivana"), m_ref.production);
    addEmployee(QStringLiteral("E3"), QStringLiteral("Kostić"), QStringLiteral("Luka"), m_ref.production);
    addEmployee(QStringLiteral("E4"), QStringLiteral("Lazić"), QStringLiteral("Mina"), m_ref.production);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T08:00:00"), m_ref.arrival);
    addRegistration(QStringLiteral("E1"), QStringLiteral("2024-03-05T12:00:00"), m_ref.breakStart);
    addRegistration(QStringLiteral("E2"), QStringLiteral("2024-03-02T16:00:00"), m_ref.departure);
    addRegistration(QStringLiteral("E2"), QStringLiteral("2024-03-05T11:00:00"), m_ref.arrival);
    addRegistration(QStringLiteral("E3"), QStringLiteral("2024-03-05T13:00:00"), m_ref.arrival);
    // E4's latest lies before the moment.
    addRegistration(QStringLiteral("E4"), QStringLiteral("2024-03-04T09:00:00"), m_ref.arrival);

    const QVector<PresenceRow> rows = presenceAt(QStringLiteral("2024-03-05T10:00:00"));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(row(rows, QStringLiteral("E1"))->lastActivity, civilTime(QStringLiteral("2024-03-05T08:00:00")));
    QCOMPARE(row(rows, QStringLiteral("E1"))->activityDescription, QStringLiteral("Arrival"));
    QCOMPARE(row(rows, QStringLiteral("E2"))->lastActivity, civilTime(QStringLiteral("2024-03-02T16:00:00")));
    QCOMPARE(row(rows, QStringLiteral("E2"))->activityDescription, QStringLiteral("Departure"));
    QVERIFY(!row(rows, QStringLiteral("E3"))->lastActivity.isValid());
    QCOMPARE(row(rows, QStringLiteral("E3"))->status, QStringLiteral("No registration"));
    QCOMPARE(row(rows, QStringLiteral("E4"))->lastActivity, civilTime(QStringLiteral("2024-03-04T09:00:00")));
    QVERIFY(row(rows, QStringLiteral("E4"))->stale);
}

void TestStoragePresence::staleRule_data()
{
    QTest::addColumn<QString>("registeredAt");
    QTest::addColumn<int>("staleAfterDays");
    QTest::addColumn<bool>("stale");

    // The moment is 2024-03-05 10:00.
    QTest::newRow("today at midnight") << "2024-03-05T00:00:00" << 1 << false;
    QTest::newRow("today before the moment") << "2024-03-05T09:59:00" << 1 << false;
    QTest::newRow("yesterday just before midnight") << "2024-03-04T23:59:59" << 1 << true;
    QTest::newRow("yesterday with two days allowed") << "2024-03-04T06:00:00" << 2 << false;
    QTest::newRow("two days ago with two days allowed") << "2024-03-03T23:59:59" << 2 << true;
    QTest::newRow("last month") << "2024-02-28T12:00:00" << 1 << true;
}

void TestStoragePresence::staleRule()
{
    QFETCH(QString, registeredAt);
    QFETCH(int, staleAfterDays);
    QFETCH(bool, stale);

    addEmployee(QStringLiteral("E1"), QStringLiteral("Lazić"), QStringLiteral("Mina"), m_ref.production);
    addRegistration(QStringLiteral("E1"), registeredAt, m_ref.arrival);

    const QVector<PresenceRow> rows = presence({civilTime(QStringLiteral("2024-03-05T10:00:00")), staleAfterDays, {}});
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().lastActivity, civilTime(registeredAt));
    QCOMPARE(rows.first().stale, stale);
}

void TestStoragePresence::departmentScope()
{
    addEmployee(QStringLiteral("P1"), QStringLiteral("Simić"), QStringLiteral("Dragana"), m_ref.production);
    addEmployee(QStringLiteral("P2"), QStringLiteral("Tomić"), QStringLiteral("Vuk"), m_ref.production);
    addEmployee(QStringLiteral("S1"), QStringLiteral("Vasić"), QStringLiteral("Sanja"), m_ref.sales);
    addRegistration(QStringLiteral("S1"), QStringLiteral("2024-03-05T08:00:00"), m_ref.arrival);
    const PresenceQuery query{civilTime(QStringLiteral("2024-03-05T12:00:00")), 1, {}};

    User salesOnly;
    salesOnly.name = QStringLiteral("sales-viewer");
    salesOnly.departmentIds = {m_ref.sales};
    QVector<PresenceRow> rows = presence(query, salesOnly);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().employeeId, QStringLiteral("S1"));

    User productionOnly = salesOnly;
    productionOnly.departmentIds = {m_ref.production};
    rows = presence(query, productionOnly);
    QCOMPARE(rows.size(), 2);
    QVERIFY(!row(rows, QStringLiteral("S1")));

    User nowhere = salesOnly;
    nowhere.departmentIds.clear();
    QVERIFY(presence(query, nowhere).isEmpty());

    QCOMPARE(presence(query, managerOfAll()).size(), 3);
}

void TestStoragePresence::rowsSortedByLastNameFirstNameId()
{
    // Serbian Latin order: C, Č, Ć, D, Dž, Đ ... and case does not split names apart.
    addEmployee(QStringLiteral("E5"), QStringLiteral("Đorđević"), QStringLiteral("Ana"), m_ref.production);
    addEmployee(QStringLiteral("E4"), QStringLiteral("Ćirić"), QStringLiteral("Uroš"), m_ref.sales);
    addEmployee(QStringLiteral("E3"), QStringLiteral("Čolić"), QStringLiteral("Maja"), m_ref.production);
    addEmployee(QStringLiteral("E9"), QStringLiteral("Petrović"), QStringLiteral("Ana"), m_ref.production);
    addEmployee(QStringLiteral("E2"), QStringLiteral("Cvetković"), QStringLiteral("Goran"), m_ref.sales);
    addEmployee(QStringLiteral("E8"), QStringLiteral("Petrović"), QStringLiteral("Ana"), m_ref.sales);
    addEmployee(QStringLiteral("E7"), QStringLiteral("Petrović"), QStringLiteral("Aleksandar"), m_ref.sales);
    addEmployee(QStringLiteral("E1"), QStringLiteral("adams"), QStringLiteral("Emma"), m_ref.sales);
    addEmployee(QStringLiteral("E6"), QStringLiteral("Dimić"), QStringLiteral("Filip"), m_ref.sales);

    const QStringList expected = {"E1", "E2", "E3", "E4", "E6", "E5", "E7", "E8", "E9"};
    QStringList order;
    for (const PresenceRow &r : presenceAt(QStringLiteral("2024-03-05T12:00:00")))
        order << r.employeeId;
    QCOMPARE(order, expected);

    // Rows from before the order was kept in the database, or from a writer that does not keep
    // it, get their place when the next answer is read.
    QVERIFY(m_fixture.execRaw(QStringLiteral("UPDATE employees SET sort_key = NULL WHERE code IN ('E1', 'E6', 'E9')")));
    order.clear();
    for (const PresenceRow &r : presenceAt(QStringLiteral("2024-03-05T12:00:00")))
        order << r.employeeId;
    QCOMPARE(order, expected);
    QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM employees WHERE sort_key IS NULL")).toInt(), 0);
}

void TestStoragePresence::knownPictureDigestsOmitBytes()
{
    const QByteArray pictureA("portrait of A: not a real JPEG, the storage keeps bytes as they are\x00\x01\xff", 71);
    const QByteArray pictureB("portrait of B");
    addEmployee(QStringLiteral("A"), QStringLiteral("Ana"), QStringLiteral("A"), m_ref.production, pictureA);
    addEmployee(QStringLiteral("B"), QStringLiteral("Bana"), QStringLiteral("B"), m_ref.production, pictureB);
    addEmployee(QStringLiteral("C"), QStringLiteral("Cana"), QStringLiteral("C"), m_ref.production);
    const QByteArray digestA = QCryptographicHash::hash(pictureA, QCryptographicHash::Sha256);
    const QByteArray digestB = QCryptographicHash::hash(pictureB, QCryptographicHash::Sha256);

    const QVector<PresenceRow> rows = presence({civilTime(QStringLiteral("2024-03-05T12:00:00")), 1, {digestA}});
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).pictureDigest, digestA);
    QVERIFY(rows.at(0).picture.isEmpty());
    QCOMPARE(rows.at(1).pictureDigest, digestB);
    QCOMPARE(rows.at(1).picture, pictureB);
    QVERIFY(rows.at(2).pictureDigest.isEmpty());
    QVERIFY(rows.at(2).picture.isEmpty());

    const QVector<PresenceRow> all = presence({civilTime(QStringLiteral("2024-03-05T12:00:00")), 1, {}});
    QCOMPARE(all.at(0).picture, pictureA);
}

// More rows than one picture look-up takes, with the known pictures spread between them.
void TestStoragePresence::picturesOfManyEmployeesGoToTheirOwnRows()
{
    const int count = 450;
    QVector<Employee> employees;
    QSet<QByteArray> known;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("E%1").arg(i, 3, 10, QLatin1Char('0'));
        const QByteArray picture = QByteArray("picture of ") + id.toUtf8();
        employees.append({id, QStringLiteral("Name%1").arg(id), QStringLiteral("First"), m_ref.production, picture, {}, {}});
        if (i % 3 == 0)
            known.insert(QCryptographicHash::hash(picture, QCryptographicHash::Sha256));
    }
    STORAGE_OK(m_fixture.storage().organisation().addEmployees(employees));

    const QVector<PresenceRow> rows = presence({civilTime(QStringLiteral("2024-03-05T12:00:00")), 1, known});
    QCOMPARE(rows.size(), count);
    int withBytes = 0;
    for (const PresenceRow &r : rows) {
        const QByteArray expected = QByteArray("picture of ") + r.employeeId.toUtf8();
        QCOMPARE(r.pictureDigest, QCryptographicHash::hash(expected, QCryptographicHash::Sha256));
        if (known.contains(r.pictureDigest)) {
            QVERIFY(r.picture.isEmpty());
        } else {
            QCOMPARE(r.picture, expected);
            ++withBytes;
        }
    }
    QCOMPARE(withBytes, count - known.size());
}

// Pages of at most 4 rows and about 150 picture bytes: some end on the row limit, some on a
// picture, and a page boundary falls between two employees of the same name.
void TestStoragePresence::pagesAreCutByRowsAndPictureBytesAndJoinUpToTheWholeAnswer()
{
    QVector<Employee> employees;
    QSet<QByteArray> known;
    for (int i = 0; i < 23; ++i) {
        const QString id = QStringLiteral("E%1").arg(i, 2, 10, QLatin1Char('0'));
        const QByteArray picture = i % 4 == 3 ? QByteArray() : QByteArray(100, char('a' + i));
        employees.append({id, i % 5 == 0 ? QStringLiteral("Jović") : QStringLiteral("Name%1").arg(22 - i),
                          QStringLiteral("Ana"), m_ref.production, picture, {}, {}});
        if (i % 7 == 0)
            known.insert(QCryptographicHash::hash(picture, QCryptographicHash::Sha256));
    }
    STORAGE_OK(m_fixture.storage().organisation().addEmployees(employees));
    PresenceQuery query{civilTime(QStringLiteral("2024-03-05T12:00:00")), 1, known};
    const QVector<PresenceRow> whole = presence(query);
    QCOMPARE(whole.size(), employees.size());

    query.pageRows = 4;
    query.pagePictureBytes = 150;
    PresenceCursor cursor;
    QVector<PresenceRow> paged;
    int pages = 0;
    while (!cursor.done && pages < 100) {
        QVector<PresenceRow> page;
        STORAGE_OK(takeInto(page, m_fixture.storage().presence().presencePage(managerOfAll(), query, cursor)));
        ++pages;
        QVERIFY(page.size() <= 4);
        int pictureBytes = 0;
        for (const PresenceRow &r : page)
            pictureBytes += r.picture.size();
        // The row that reaches the budget is the page's last.
        QVERIFY2(pictureBytes < 150 + 100, qPrintable(QString::number(pictureBytes)));
        paged += page;
    }
    QVERIFY(pages > 23 / 4 + 1);
    QCOMPARE(paged.size(), whole.size());
    for (int i = 0; i < whole.size(); ++i) {
        QCOMPARE(paged.at(i).employeeId, whole.at(i).employeeId);
        QCOMPARE(paged.at(i).picture, whole.at(i).picture);
        QCOMPARE(paged.at(i).pictureDigest.isEmpty(), whole.at(i).pictureDigest.isEmpty());
    }
    // The five of the same name come together, ordered by id.
    QStringList jovic;
    for (const PresenceRow &r : paged) {
        if (r.lastName == QStringLiteral("Jović"))
            jovic << r.employeeId;
    }
    QCOMPARE(jovic, QStringList({"E00", "E05", "E10", "E15", "E20"}));
    QVector<PresenceRow> after;
    STORAGE_OK(takeInto(after, m_fixture.storage().presence().presencePage(managerOfAll(), query, cursor)));
    QVERIFY(after.isEmpty());
}

void TestStoragePresence::invalidQueriesAreRefused()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    int calls = 0;
    const auto count = [&](const PresenceRow &) { ++calls; };

    StorageError error = m_fixture.storage().presence().presence(managerOfAll(), {QDateTime(), 1, {}}, count);
    QCOMPARE(error.code, StorageError::InvalidArgument);
    QVERIFY(error.message.contains(QLatin1String("not a valid date")));

    error = m_fixture.storage().presence().presence(managerOfAll(), {civilTime(QStringLiteral("2024-03-05T12:00:00")), 0, {}}, count);
    QCOMPARE(error.code, StorageError::InvalidArgument);
    QVERIFY(error.message.contains(QLatin1String("at least 1")));
    QCOMPARE(calls, 0);
}

qint64 TestStoragePresence::addTerminal(const QString &name)
{
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256);
    const StorageError added = m_fixture.storage().accounts().addTerminal({0, name, hash, QDateTime::currentDateTimeUtc()});
    if (!added.ok())
        qWarning("%s", qPrintable(added.message));
    return m_fixture.storage().accounts().findTerminal(hash).value().id;
}

PresenceStore::TerminalRegistration TestStoragePresence::registerFromTerminal(qint64 terminal, const QString &requestId,
                                                                           const QDateTime &nowUtc)
{
    const Registration registration{QStringLiteral("E1"), civilTime(QStringLiteral("2024-03-05T08:00:00")),
                                    m_ref.arrival, QStringLiteral("terminal:test")};
    Result<TerminalRegistration> stored =
        m_fixture.storage().presence().registerFromTerminal(terminal, requestId, registration, nowUtc);
    if (!stored.ok())
        qWarning("%s", qPrintable(stored.error().message));
    return stored.value();
}

int TestStoragePresence::registrationsStored()
{
    return m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM registrations")).toInt();
}

// A terminal that did not hear the answer sends the same request again.
void TestStoragePresence::terminalRequestIds_data()
{
    QTest::addColumn<QString>("firstId");
    QTest::addColumn<bool>("otherTerminal");
    QTest::addColumn<QString>("secondId");
    QTest::addColumn<bool>("repeated");
    QTest::newRow("the same id again") << "r-1" << false << "r-1" << true;
    QTest::newRow("another id") << "r-1" << false << "r-2" << false;
    QTest::newRow("no id, twice") << "" << false << "" << false;
    QTest::newRow("the same id from another terminal") << "r-1" << true << "r-1" << false;
    QTest::newRow("ids differ in case") << "abc" << false << "ABC" << false;
}

void TestStoragePresence::terminalRequestIds()
{
    QFETCH(QString, firstId);
    QFETCH(bool, otherTerminal);
    QFETCH(QString, secondId);
    QFETCH(bool, repeated);
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    const qint64 gate = addTerminal(QStringLiteral("gate-1"));
    const qint64 other = addTerminal(QStringLiteral("gate-2"));

    const TerminalRegistration first = registerFromTerminal(gate, firstId);
    QVERIFY(first.registrationId > 0);
    QVERIFY(!first.repeated);
    const TerminalRegistration second = registerFromTerminal(otherTerminal ? other : gate, secondId);
    QCOMPARE(second.repeated, repeated);
    QCOMPARE(second.registrationId == first.registrationId, repeated);
    QCOMPARE(registrationsStored(), repeated ? 1 : 2);
    // The registration stored is what presence answers with.
    QCOMPARE(presenceAt(QStringLiteral("2024-03-05T09:00:00")).first().activityDescription, QStringLiteral("Arrival"));
}

// Two repeats at once, as two service instances on one PostgreSQL would take them: the key
// decides, so one registration is stored and both answer with its number.
void TestStoragePresence::concurrentRepeatsStoreOneRegistration()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    const qint64 gate = addTerminal(QStringLiteral("gate-1"));
    constexpr int Requests = 20;
    for (int request = 0; request < Requests; ++request) {
        const QString requestId = QStringLiteral("request-%1").arg(request);
        std::atomic<int> ready{0};
        TerminalRegistration answers[2];
        const auto repeat = [&](int which) {
            ++ready;
            while (ready < 2)
                std::this_thread::yield();
            answers[which] = registerFromTerminal(gate, requestId);
        };
        std::thread one(repeat, 0);
        std::thread two(repeat, 1);
        one.join();
        two.join();
        QVERIFY(answers[0].registrationId > 0);
        QCOMPARE(answers[1].registrationId, answers[0].registrationId);
        QVERIFY2(answers[0].repeated != answers[1].repeated, qPrintable(requestId));
    }
    QCOMPARE(registrationsStored(), Requests);
}

void TestStoragePresence::requestIdsAreKeptForADay()
{
    addEmployee(QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Marko"), m_ref.production);
    const qint64 gate = addTerminal(QStringLiteral("gate-1"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const TerminalRegistration old = registerFromTerminal(gate, QStringLiteral("old"), now.addSecs(-25 * 3600));
    const TerminalRegistration recent = registerFromTerminal(gate, QStringLiteral("recent"), now.addSecs(-23 * 3600));
    // The next registration of the terminal prunes what is older than a day.
    registerFromTerminal(gate, QStringLiteral("now"), now);
    QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM terminal_requests")).toInt(), 2);

    const TerminalRegistration recentAgain = registerFromTerminal(gate, QStringLiteral("recent"), now);
    QVERIFY(recentAgain.repeated);
    QCOMPARE(recentAgain.registrationId, recent.registrationId);
    const TerminalRegistration oldAgain = registerFromTerminal(gate, QStringLiteral("old"), now);
    QVERIFY(!oldAgain.repeated);
    QVERIFY(oldAgain.registrationId != old.registrationId);
}

QTEST_GUILESS_MAIN(TestStoragePresence)
#include "tst_storagepresence.moc"
