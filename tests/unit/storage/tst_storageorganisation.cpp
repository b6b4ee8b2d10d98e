// The organisation's administration: removals refused while anything refers to a record,
// the leave day, upserts by natural key, registrations without duplicates, and the range and
// month reads that exports and reports build on.

#include "support/storagefixture.h"

using namespace vorna::service;
using Kind = OrganisationStore::Kind;

class TestStorageOrganisation : public StorageTestCase
{
    Q_OBJECT

private slots:
    void referencedRemovalsAreRefusedAndNameTheReferrer();
    void aLeaverDisappearsFromPresenceAfterTheLastDay();
    void upsertsTellAddedChangedUnchanged();
    void aNameTakenTwiceIsRefusedWithItsNoun();
    void registrationsAreAddedOnceAndReadByRange();
    void monthHoldsEveryonesCalendarsAndExceptions();

private:
    void seed() override;
    Result<Upsert> inTransaction(const std::function<Result<Upsert>(Transaction &)> &work);
    QStringList presentAt(const QString &at);

    Department m_sales{0, QStringLiteral("Sales")};
    PresenceStatus m_present{0, QStringLiteral("Present"), 0x00FF00, true};
    ActivityKind m_arrival{0, QStringLiteral("Arrival"), 0};
    Calendar m_day{0, QStringLiteral("Day"), 0x111111};
    WorkDayKind m_holiday{0, QStringLiteral("Holiday"), 0x222222};
};

void TestStorageOrganisation::seed()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    STORAGE_OK(o.addDepartment(m_sales));
    STORAGE_OK(o.addPresenceStatus(m_present));
    m_arrival.statusId = m_present.id;
    STORAGE_OK(o.addActivityKind(m_arrival));
    STORAGE_OK(o.addCalendar(m_day));
    STORAGE_OK(o.addWorkDayKind(m_holiday));
    STORAGE_OK(o.addEmployees({{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, {}, {}, {}},
                               {QStringLiteral("E2"), QStringLiteral("Jović"), QStringLiteral("Marko"), m_sales.id, {}, {}, {}}}));
}

Result<Upsert> TestStorageOrganisation::inTransaction(const std::function<Result<Upsert>(Transaction &)> &work)
{
    Result<Upsert> outcome = Upsert::Unchanged;
    const StorageError error = m_fixture.storage().write(QStringLiteral("upsert"), [&](Transaction &tx) {
        outcome = work(tx);
        return outcome.error();
    });
    return error.ok() ? outcome : Result<Upsert>(error);
}

QStringList TestStorageOrganisation::presentAt(const QString &at)
{
    QStringList ids;
    const StorageError error = m_fixture.storage().presence().presence(
        managerOfAll(), {civilTime(at), 1, {}}, [&](const PresenceRow &row) { ids << row.employeeId; });
    return error.ok() ? ids : QStringList{error.message};
}

void TestStorageOrganisation::referencedRemovalsAreRefusedAndNameTheReferrer()
{
    Database &s = m_fixture.storage();
    OrganisationStore &o = s.organisation();
    STORAGE_OK(o.addRegistration({QStringLiteral("E1"), civilTime(QStringLiteral("2024-03-04T08:00:00")), m_arrival.id,
                                  QStringLiteral("test")}));
    STORAGE_OK(s.calendars().assignCalendar(managerOfAll(), m_day.id, QStringLiteral("E2"), QDate(2024, 3, 1),
                                            civilTime(QStringLiteral("2024-03-01T08:00:00"))));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(), m_holiday.id, QStringLiteral("E2"), QDate(2024, 3, 8),
                                           civilTime(QStringLiteral("2024-03-01T08:00:00"))));
    STORAGE_OK(s.accounts().addUser({0, QStringLiteral("eve"), QStringLiteral("hash"), Role::Viewer, false, {m_sales.id}}));

    const QList<QPair<Kind, QStringList>> refused{
        {Kind::Department, {QStringLiteral("'E1'"), QStringLiteral("'eve'")}},
        {Kind::Status, {QStringLiteral("'Arrival'")}},
        {Kind::Activity, {QStringLiteral("'E1'")}},
        {Kind::Calendar, {QStringLiteral("'E2'")}},
        {Kind::WorkDay, {QStringLiteral("'E2'")}},
    };
    const QStringList names{m_sales.name, m_present.name, m_arrival.name, m_day.name, m_holiday.name};
    for (int i = 0; i < refused.size(); ++i) {
        const StorageError error = o.remove(refused.at(i).first, names.at(i));
        QCOMPARE(error.code, StorageError::PermissionDenied);
        for (const QString &referrer : refused.at(i).second)
            QVERIFY2(error.message.contains(referrer), qPrintable(error.message));
    }
    const StorageError employee = o.removeEmployee(QStringLiteral("E1"));
    QCOMPARE(employee.code, StorageError::PermissionDenied);
    QVERIFY2(employee.message.contains(QLatin1String("1 registrations")), qPrintable(employee.message));
    QCOMPARE(o.removeEmployee(QStringLiteral("E2")).code, StorageError::PermissionDenied);
    QCOMPARE(o.remove(Kind::Calendar, QStringLiteral("nothing")).code, StorageError::NotFound);
    QCOMPARE(o.departments().value().size(), 1);
    QCOMPARE(o.activityKinds().value().size(), 1);

    // Without references the same removals go through.
    Department empty{0, QStringLiteral("Empty")};
    STORAGE_OK(o.addDepartment(empty));
    STORAGE_OK(o.remove(Kind::Department, empty.name));
    STORAGE_OK(o.addEmployees({{QStringLiteral("E3"), QStringLiteral("Novak"), QStringLiteral("Ivo"), m_sales.id, {}, {}, {}}}));
    STORAGE_OK(o.removeEmployee(QStringLiteral("E3")));
    QCOMPARE(o.findEmployee(QStringLiteral("E3")).error().code, StorageError::NotFound);
}

void TestStorageOrganisation::aLeaverDisappearsFromPresenceAfterTheLastDay()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    STORAGE_OK(o.addRegistration({QStringLiteral("E1"), civilTime(QStringLiteral("2024-03-04T08:00:00")), m_arrival.id,
                                  QStringLiteral("test")}));
    STORAGE_OK(o.setLeaveDay(QStringLiteral("E1"), QDate(2024, 3, 10)));
    QCOMPARE(presentAt(QStringLiteral("2024-03-10T23:59:59")), QStringList({"E1", "E2"}));
    QCOMPARE(presentAt(QStringLiteral("2024-03-11T00:00:00")), QStringList({"E2"}));
    // Pages follow the same rule.
    PresenceQuery query{civilTime(QStringLiteral("2024-04-01T12:00:00")), 1, {}};
    query.pageRows = 1;
    PresenceCursor cursor;
    QStringList paged;
    while (!cursor.done) {
        const Result<QVector<PresenceRow>> page = m_fixture.storage().presence().presencePage(managerOfAll(), query, cursor);
        STORAGE_OK(page);
        for (const PresenceRow &row : *page)
            paged << row.employeeId;
    }
    QCOMPARE(paged, QStringList({"E2"}));
    // The history stays, and the leave day reads back.
    QCOMPARE(o.findEmployee(QStringLiteral("E1"))->leftOn, QDate(2024, 3, 10));
    QCOMPARE(o.setLeaveDay(QStringLiteral("E404"), QDate(2024, 3, 10)).code, StorageError::NotFound);
}

// The refusal begins with the noun and its article: "An activity kind", "A department".
void TestStorageOrganisation::aNameTakenTwiceIsRefusedWithItsNoun()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    ActivityKind arrival{0, m_arrival.name, m_present.id};
    const StorageError kind = o.addActivityKind(arrival);
    QVERIFY2(kind.message.startsWith(QLatin1String("An activity kind named")), qPrintable(kind.message));
    Department sales{0, m_sales.name};
    const StorageError department = o.addDepartment(sales);
    QVERIFY2(department.message.startsWith(QLatin1String("A department named")), qPrintable(department.message));
}

void TestStorageOrganisation::upsertsTellAddedChangedUnchanged()
{
    OrganisationStore &o = m_fixture.storage().organisation();
    PresenceStatus away{0, QStringLiteral("Away"), 0x0000FF, false};
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertStatus(tx, away); }), Upsert::Added);
    QVERIFY(away.id > 0);
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertStatus(tx, away); }), Upsert::Unchanged);
    away.countsPresent = true;
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertStatus(tx, away); }), Upsert::Changed);
    QVERIFY(o.presenceStatuses().value().last().countsPresent || o.presenceStatuses().value().first().countsPresent);

    Department sales{0, m_sales.name};
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertDepartment(tx, sales); }), Upsert::Unchanged);
    QCOMPARE(sales.id, m_sales.id);

    Employee ana{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales.id, {}, {}, {}};
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertEmployee(tx, ana); }), Upsert::Unchanged);
    ana.picture = QByteArray("not checked here");
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertEmployee(tx, ana); }), Upsert::Changed);
    QCOMPARE(o.findEmployee(QStringLiteral("E1"))->picture, ana.picture);
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertEmployee(tx, ana); }), Upsert::Unchanged);
    Employee newcomer{QStringLiteral("E9"), QStringLiteral("Aaron"), QStringLiteral("Zed"), m_sales.id, {}, {}, {}};
    QCOMPARE(*inTransaction([&](Transaction &tx) { return o.upsertEmployee(tx, newcomer); }), Upsert::Added);
    // A new employee comes first in presence by name at once.
    QCOMPARE(presentAt(QStringLiteral("2024-03-10T12:00:00")).first(), QStringLiteral("E9"));
}

void TestStorageOrganisation::registrationsAreAddedOnceAndReadByRange()
{
    Database &s = m_fixture.storage();
    const auto at = [](const char *iso) { return civilTime(QString::fromLatin1(iso)); };
    const QVector<Registration> batch{
        {QStringLiteral("E1"), at("2024-02-29T17:00:00"), m_arrival.id, QStringLiteral("import")},
        {QStringLiteral("E1"), at("2024-03-01T08:00:00"), m_arrival.id, QStringLiteral("import")},
        {QStringLiteral("E1"), at("2024-03-01T08:00:00"), m_arrival.id, QStringLiteral("import")}, // twice in one list
        {QStringLiteral("E2"), at("2024-03-31T23:30:00"), m_arrival.id, QStringLiteral("import")},
        {QStringLiteral("E2"), at("2024-04-01T00:00:00"), m_arrival.id, QStringLiteral("import")},
    };
    const auto addBatch = [&] {
        Result<qint64> added = qint64(-1);
        const StorageError error = s.write(QStringLiteral("import"), [&](Transaction &tx) {
            added = s.organisation().addNewRegistrations(tx, batch);
            return added.error();
        });
        return error.ok() ? added : Result<qint64>(error);
    };
    QCOMPARE(*addBatch(), qint64(4));
    QCOMPARE(*addBatch(), qint64(0));
    // The latest registration moved on with the import.
    QCOMPARE(presentAt(QStringLiteral("2024-04-02T00:00:00")).size(), 2);

    const Result<QVector<RegistrationRow>> march =
        s.organisation().registrations({QDate(2024, 3, 1), QDate(2024, 3, 31), 0, false});
    STORAGE_OK(march);
    QCOMPARE(march->size(), 2);
    QCOMPARE(march->at(0).employeeId, QStringLiteral("E1"));
    QCOMPARE(march->at(1).at, at("2024-03-31T23:30:00"));
    QVERIFY(march->at(0).countsPresent);
    QCOMPARE(march->at(0).status, m_present.name);
    const Result<QVector<RegistrationRow>> withPrevious =
        s.organisation().registrations({QDate(2024, 3, 1), QDate(2024, 3, 31), m_sales.id, true});
    QCOMPARE(withPrevious->size(), 3);
    QCOMPARE(withPrevious->at(0).at, at("2024-02-29T17:00:00"));
    QCOMPARE(s.organisation().registrations({QDate(2024, 3, 2), QDate(2024, 3, 1), 0, false}).error().code,
             StorageError::InvalidArgument);
}

void TestStorageOrganisation::monthHoldsEveryonesCalendarsAndExceptions()
{
    Database &s = m_fixture.storage();
    Calendar night{0, QStringLiteral("Night"), 0x333333};
    STORAGE_OK(s.organisation().addCalendar(night));
    const QDateTime now = civilTime(QStringLiteral("2024-01-01T08:00:00"));
    STORAGE_OK(s.calendars().assignCalendar(managerOfAll(), m_day.id, QStringLiteral("E1"), QDate(2024, 2, 1), now));
    STORAGE_OK(s.calendars().assignCalendar(managerOfAll(), night.id, QStringLiteral("E1"), QDate(2024, 3, 15), now));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(), m_holiday.id, QStringLiteral("E2"), QDate(2024, 3, 8), now));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(), m_holiday.id, QStringLiteral("E2"), QDate(2024, 4, 1), now));

    const Result<QVector<EmployeeMonth>> march = s.calendars().month(2024, 3);
    STORAGE_OK(march);
    QCOMPARE(march->size(), 2);
    // E1: Day in force on the 1st (assigned in February) until Night begins on the 15th.
    const EmployeeMonth &ana = march->at(0);
    QCOMPARE(ana.employeeId, QStringLiteral("E1"));
    QCOMPARE(ana.calendars.size(), 2);
    QCOMPARE(ana.calendars.at(0).calendarName, m_day.name);
    QCOMPARE(ana.calendars.at(0).validBegin, civilTime(QStringLiteral("2024-03-01T00:00:00")));
    QCOMPARE(ana.calendars.at(0).validEnd, civilTime(QStringLiteral("2024-03-15T00:00:00")));
    QCOMPARE(ana.calendars.at(1).calendarName, night.name);
    QVERIFY(ana.exceptions.isEmpty());
    // E2: only the exception inside the month.
    QCOMPARE(march->at(1).employeeId, QStringLiteral("E2"));
    QVERIFY(march->at(1).calendars.isEmpty());
    QCOMPARE(march->at(1).exceptions.size(), 1);
    QCOMPARE(march->at(1).exceptions.at(0).day, QDate(2024, 3, 8));
    Department other{0, QStringLiteral("Other")};
    STORAGE_OK(s.organisation().addDepartment(other));
    QVERIFY(s.calendars().month(2024, 3, other.id)->isEmpty());
    QCOMPARE(s.calendars().month(2024, 13).error().code, StorageError::InvalidArgument);
}

QTEST_GUILESS_MAIN(TestStorageOrganisation)
#include "tst_storageorganisation.moc"
