// Calendar ranges of a month, working-day exceptions, and assignments with their audit record:
// written together or not at all, refused for viewers and for employees out of reach.

#include "support/storagefixture.h"

using namespace vorna::service;

namespace {

QDate day(const QString &iso)
{
    return QDate::fromString(iso, Qt::ISODate);
}

const QDateTime assignedAt(QDate(2024, 3, 20), QTime(9, 15, 30), Qt::UTC);

} // namespace

class TestStorageCalendar : public StorageTestCase
{
    Q_OBJECT

private slots:

    void rangesClippedToMonth_data();
    void rangesClippedToMonth();
    void rangesOfOtherEmployeesDoNotMix();
    void exceptionsOnePerDayInDayOrder();
    void historiesOfUnknownEmployeeOrMonthAreRefused();
    void calendarAssignmentIsAudited();
    void workDayAssignmentIsAudited();
    void refusedAssignmentsWriteNothing_data();
    void refusedAssignmentsWriteNothing();
    void failingAuditUndoesTheAssignment();
    void changesNeedTheUsersName();
    void visibilityFollowsDepartments();

private:
    void seed() override;
    void assignCalendars(const QString &plan, const QString &employee = QStringLiteral("E1"));
    QString ranges(int year, int month, const QString &employee = QStringLiteral("E1"));
    QString exceptions(int year, int month);

    QHash<QString, int> m_calendars; // by name
    QHash<QString, int> m_dayKinds;  // by name
    qint64 m_production = 0;
    qint64 m_sales = 0;
};

void TestStorageCalendar::seed()
{
    Database &s = m_fixture.storage();
    Department production{0, QStringLiteral("Production")};
    Department sales{0, QStringLiteral("Sales")};
    STORAGE_OK(s.organisation().addDepartment(production));
    STORAGE_OK(s.organisation().addDepartment(sales));
    m_production = production.id;
    m_sales = sales.id;
    m_calendars.clear();
    m_dayKinds.clear();
    for (const QString &name : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}) {
        Calendar calendar{0, name, 0x100 + name.at(0).unicode()};
        STORAGE_OK(s.organisation().addCalendar(calendar));
        m_calendars.insert(name, calendar.id);
    }
    for (const QString &name : {QStringLiteral("Holiday"), QStringLiteral("Day off")}) {
        WorkDayKind kind{0, name, 0x200 + name.at(0).unicode()};
        STORAGE_OK(s.organisation().addWorkDayKind(kind));
        m_dayKinds.insert(name, kind.id);
    }
    STORAGE_OK(s.organisation().addEmployees({{QStringLiteral("E1"), QStringLiteral("Petrović"), QStringLiteral("Ana"), production.id, {}, {}, {}},
                               {QStringLiteral("E2"), QStringLiteral("Ilić"), QStringLiteral("Marko"), sales.id, {}, {}, {}}}));
}

// `plan` lists "calendar:from-day" items separated by ";", applied in that order.
void TestStorageCalendar::assignCalendars(const QString &plan, const QString &employee)
{
    for (const QString &item : plan.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(QLatin1Char(':'));
        STORAGE_OK(m_fixture.storage().calendars().assignCalendar(managerOfAll(QStringLiteral("maja")), m_calendars.value(parts.at(0)), employee,
                                                      day(parts.at(1)), assignedAt));
    }
}

// The month's ranges as "name color begin..end" items separated by ";".
QString TestStorageCalendar::ranges(int year, int month, const QString &employee)
{
    QVector<CalendarRange> out;
    const StorageError error = takeInto(out, m_fixture.storage().calendars().calendarHistory(employee, year, month));
    if (!error.ok())
        return error.message;
    QStringList items;
    for (const CalendarRange &r : out) {
        const bool midnights = r.validBegin.time() == QTime(0, 0) && r.validEnd.time() == QTime(0, 0);
        const bool ordered = r.validBegin <= r.validEnd;
        items << QStringLiteral("%1 %2 %3..%4%5")
                     .arg(r.calendarName)
                     .arg(r.calendarColor == 0x100 + r.calendarName.at(0).unicode() ? QStringLiteral("ok") : QStringLiteral("bad-colour"))
                     .arg(r.validBegin.date().toString(Qt::ISODate), r.validEnd.date().toString(Qt::ISODate))
                     .arg(midnights && ordered ? QString() : QStringLiteral(" (not midnights in order)"));
    }
    return items.join(QLatin1Char(';'));
}

void TestStorageCalendar::rangesClippedToMonth_data()
{
    QTest::addColumn<QString>("plan");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<QString>("expected");

    QTest::newRow("assigned before the month")
        << "A:2024-01-10" << 2024 << 3 << "A ok 2024-03-01..2024-03-31";
    QTest::newRow("assigned inside the month")
        << "A:2024-03-10" << 2024 << 3 << "A ok 2024-03-10..2024-03-31";
    QTest::newRow("two changes in the month")
        << "A:2024-02-01;B:2024-03-10;C:2024-03-20" << 2024 << 3
        << "A ok 2024-03-01..2024-03-10;B ok 2024-03-10..2024-03-20;C ok 2024-03-20..2024-03-31";
    QTest::newRow("month before the first assignment") << "A:2024-04-05" << 2024 << 3 << "";
    QTest::newRow("change on the first of the month hides the older one")
        << "A:2024-01-01;B:2024-03-01" << 2024 << 3 << "B ok 2024-03-01..2024-03-31";
    QTest::newRow("later assignments do not reach back")
        << "A:2024-01-01;B:2024-04-01" << 2024 << 3 << "A ok 2024-03-01..2024-03-31";
    QTest::newRow("change on the last day")
        << "A:2024-02-01;B:2024-03-31" << 2024 << 3 << "A ok 2024-03-01..2024-03-31;B ok 2024-03-31..2024-03-31";
    QTest::newRow("leap February") << "A:2023-12-01" << 2024 << 2 << "A ok 2024-02-01..2024-02-29";
    QTest::newRow("replaced on the same day") << "A:2024-03-10;B:2024-03-10" << 2024 << 3 << "B ok 2024-03-10..2024-03-31";
    QTest::newRow("an older day assigned after a later one")
        << "B:2024-03-20;A:2024-03-05" << 2024 << 3 << "A ok 2024-03-05..2024-03-20;B ok 2024-03-20..2024-03-31";
    QTest::newRow("across a year end")
        << "A:2023-11-15;B:2024-01-08" << 2024 << 1 << "A ok 2024-01-01..2024-01-08;B ok 2024-01-08..2024-01-31";
}

void TestStorageCalendar::rangesClippedToMonth()
{
    QFETCH(QString, plan);
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(QString, expected);

    assignCalendars(plan);
    QCOMPARE(ranges(year, month), expected);
}

void TestStorageCalendar::rangesOfOtherEmployeesDoNotMix()
{
    assignCalendars(QStringLiteral("A:2024-01-01;B:2024-03-15"), QStringLiteral("E1"));
    assignCalendars(QStringLiteral("C:2024-03-01;A:2024-03-10"), QStringLiteral("E2"));
    QCOMPARE(ranges(2024, 3, QStringLiteral("E1")), QStringLiteral("A ok 2024-03-01..2024-03-15;B ok 2024-03-15..2024-03-31"));
    QCOMPARE(ranges(2024, 3, QStringLiteral("E2")), QStringLiteral("C ok 2024-03-01..2024-03-10;A ok 2024-03-10..2024-03-31"));
}

QString TestStorageCalendar::exceptions(int year, int month)
{
    QVector<ExceptionDay> out;
    const StorageError error = takeInto(out, m_fixture.storage().calendars().exceptionHistory(QStringLiteral("E1"), year, month));
    if (!error.ok())
        return error.message;
    QStringList items;
    for (const ExceptionDay &d : out)
        items << QStringLiteral("%1 %2 %3").arg(d.dayName).arg(d.dayColor, 0, 16).arg(d.day.toString(Qt::ISODate));
    return items.join(QLatin1Char(';'));
}

void TestStorageCalendar::exceptionsOnePerDayInDayOrder()
{
    Database &s = m_fixture.storage();
    const int holiday = m_dayKinds.value(QStringLiteral("Holiday"));
    const int dayOff = m_dayKinds.value(QStringLiteral("Day off"));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), dayOff, QStringLiteral("E1"), day("2024-03-20"), assignedAt));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), holiday, QStringLiteral("E1"), day("2024-03-01"), assignedAt));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), holiday, QStringLiteral("E1"), day("2024-03-31"), assignedAt));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), dayOff, QStringLiteral("E1"), day("2024-04-01"), assignedAt));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), holiday, QStringLiteral("E1"), day("2024-02-29"), assignedAt));
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), holiday, QStringLiteral("E2"), day("2024-03-05"), assignedAt));
    // The same day again replaces the first choice.
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), holiday, QStringLiteral("E1"), day("2024-03-20"), assignedAt));

    QCOMPARE(exceptions(2024, 3), QStringLiteral("Holiday 248 2024-03-01;Holiday 248 2024-03-20;Holiday 248 2024-03-31"));
    QCOMPARE(exceptions(2024, 4), QStringLiteral("Day off 244 2024-04-01"));
    QCOMPARE(exceptions(2024, 5), QString());
}

void TestStorageCalendar::historiesOfUnknownEmployeeOrMonthAreRefused()
{
    QVector<CalendarRange> ranges;
    QVector<ExceptionDay> days;
    StorageError error = takeInto(ranges, m_fixture.storage().calendars().calendarHistory(QStringLiteral("nobody"), 2024, 3));
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY(error.message.contains(QLatin1String("'nobody'")));
    error = takeInto(days, m_fixture.storage().calendars().exceptionHistory(QStringLiteral("nobody"), 2024, 3));
    QCOMPARE(error.code, StorageError::NotFound);
    error = takeInto(ranges, m_fixture.storage().calendars().calendarHistory(QStringLiteral("E1"), 2024, 13));
    QCOMPARE(error.code, StorageError::InvalidArgument);
    error = takeInto(days, m_fixture.storage().calendars().exceptionHistory(QStringLiteral("E1"), 2024, 0));
    QCOMPARE(error.code, StorageError::InvalidArgument);
}

void TestStorageCalendar::calendarAssignmentIsAudited()
{
    Database &s = m_fixture.storage();
    qint64 first = 0;
    qint64 second = 0;
    qint64 third = 0;
    STORAGE_OK(takeInto(first, s.calendars().assignCalendar(managerOfAll(QStringLiteral("maja")), m_calendars.value("A"), QStringLiteral("E1"),
                                day("2024-01-01"), assignedAt)));
    // In force on 10 March: A, from January.
    STORAGE_OK(takeInto(second, s.calendars().assignCalendar(managerOfAll(QStringLiteral("goran")), m_calendars.value("B"), QStringLiteral("E1"),
                                day("2024-03-10"), assignedAt.addSecs(60))));
    // The same day again: replaces B.
    STORAGE_OK(takeInto(third, s.calendars().assignCalendar(managerOfAll(QStringLiteral("maja")), m_calendars.value("C"), QStringLiteral("E1"),
                                day("2024-03-10"), assignedAt.addSecs(120))));
    QVERIFY(first > 0 && second > first && third > second);

    const QVector<AuditEntry> log = s.calendars().auditLog(QStringLiteral("E1")).value();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.at(0).id, first);
    QCOMPARE(log.at(0).replacedValue, QString());
    QCOMPARE(log.at(1).id, second);
    QCOMPARE(log.at(1).userName, QStringLiteral("goran"));
    QCOMPARE(log.at(1).at, assignedAt.addSecs(60));
    QCOMPARE(log.at(1).action, QStringLiteral("calendar"));
    QCOMPARE(log.at(1).employeeId, QStringLiteral("E1"));
    QCOMPARE(log.at(1).day, day("2024-03-10"));
    QCOMPARE(log.at(1).newValue, QStringLiteral("B"));
    QCOMPARE(log.at(1).replacedValue, QStringLiteral("A"));
    QCOMPARE(log.at(2).newValue, QStringLiteral("C"));
    QCOMPARE(log.at(2).replacedValue, QStringLiteral("B"));
    QVERIFY(s.calendars().auditLog(QStringLiteral("E2")).value().isEmpty());
    QCOMPARE(s.calendars().auditLog().value().size(), 3);
}

void TestStorageCalendar::workDayAssignmentIsAudited()
{
    Database &s = m_fixture.storage();
    qint64 auditId = 0;
    STORAGE_OK(takeInto(auditId, s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), m_dayKinds.value("Day off"), QStringLiteral("E2"), day("2024-05-02"),
                               assignedAt)));
    STORAGE_OK(takeInto(auditId, s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), m_dayKinds.value("Holiday"), QStringLiteral("E2"), day("2024-05-02"),
                               assignedAt)));
    // Another day: nothing to replace, even with an exception the day before.
    STORAGE_OK(s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), m_dayKinds.value("Holiday"), QStringLiteral("E2"), day("2024-05-03"),
                               assignedAt));

    const QVector<AuditEntry> log = s.calendars().auditLog(QStringLiteral("E2")).value();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.at(1).id, auditId);
    QCOMPARE(log.at(1).action, QStringLiteral("workday"));
    QCOMPARE(log.at(1).newValue, QStringLiteral("Holiday"));
    QCOMPARE(log.at(1).replacedValue, QStringLiteral("Day off"));
    QCOMPARE(log.at(2).replacedValue, QString());
}

void TestStorageCalendar::refusedAssignmentsWriteNothing_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("productionOnly");
    QTest::addColumn<QString>("employee");
    QTest::addColumn<int>("calendarShift"); // added to a known calendar id; 1000 makes it unknown
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("sentencePart");

    QTest::newRow("viewer") << int(Role::Viewer) << false << "E1" << 0 << int(StorageError::PermissionDenied) << "manager role";
    QTest::newRow("outside the user's departments")
        << int(Role::Manager) << true << "E2" << 0 << int(StorageError::PermissionDenied) << "outside that user's departments";
    QTest::newRow("unknown employee") << int(Role::Manager) << false << "E404" << 0 << int(StorageError::NotFound) << "'E404'";
    QTest::newRow("unknown calendar") << int(Role::Manager) << false << "E1" << 1000 << int(StorageError::NotFound) << "no calendar";
}

void TestStorageCalendar::refusedAssignmentsWriteNothing()
{
    QFETCH(int, role);
    QFETCH(bool, productionOnly);
    QFETCH(QString, employee);
    QFETCH(int, calendarShift);
    QFETCH(int, expected);
    QFETCH(QString, sentencePart);

    Database &s = m_fixture.storage();
    User user = managerOfAll(QStringLiteral("someone"));
    user.role = Role(role);
    user.allDepartments = !productionOnly;
    user.departmentIds = {m_production};

    const int calendar = m_calendars.value("A") + calendarShift;
    qint64 auditId = -1;
    StorageError error = takeInto(auditId, s.calendars().assignCalendar(user, calendar, employee, day("2024-03-10"), assignedAt));
    QCOMPARE(int(error.code), expected);
    QVERIFY2(error.message.contains(sentencePart), qPrintable(error.message));
    QCOMPARE(auditId, qint64(-1));

    const int kind = m_dayKinds.value("Holiday") + calendarShift;
    error = takeInto(auditId, s.calendars().assignWorkDay(user, kind, employee, day("2024-03-10"), assignedAt));
    QCOMPARE(int(error.code), expected);

    QVERIFY(s.calendars().auditLog().value().isEmpty());
    for (const QString &id : {QStringLiteral("E1"), QStringLiteral("E2")}) {
        QCOMPARE(ranges(2024, 3, id), QString());
        QVector<ExceptionDay> days;
        STORAGE_OK(takeInto(days, s.calendars().exceptionHistory(id, 2024, 3)));
        QVERIFY(days.isEmpty());
    }
}

// The audit record goes in the same transaction as the change: when it cannot be written
// (here its table has gone away), the change is undone too.
void TestStorageCalendar::failingAuditUndoesTheAssignment()
{
    Database &s = m_fixture.storage();
    assignCalendars(QStringLiteral("A:2024-01-01"));
    QString problem;
    QVERIFY2(m_fixture.execRaw(QStringLiteral("ALTER TABLE audit_log RENAME TO audit_log_away"), &problem),
             qPrintable(problem));

    StorageError error = s.calendars().assignCalendar(managerOfAll(QStringLiteral("maja")), m_calendars.value("B"), QStringLiteral("E1"), day("2024-03-10"),
                                          assignedAt).error();
    QCOMPARE(error.code, StorageError::Internal);
    QVERIFY2(error.message.startsWith(QLatin1String("Could not assign a calendar to the employee 'E1'")),
             qPrintable(error.message));
    error = s.calendars().assignWorkDay(managerOfAll(QStringLiteral("maja")), m_dayKinds.value("Holiday"), QStringLiteral("E1"), day("2024-03-10"), assignedAt).error();
    QCOMPARE(error.code, StorageError::Internal);

    QVERIFY2(m_fixture.execRaw(QStringLiteral("ALTER TABLE audit_log_away RENAME TO audit_log"), &problem),
             qPrintable(problem));
    QCOMPARE(ranges(2024, 3), QStringLiteral("A ok 2024-03-01..2024-03-31"));
    QCOMPARE(exceptions(2024, 3), QString());
    QCOMPARE(s.calendars().auditLog().value().size(), 1);
}

void TestStorageCalendar::changesNeedTheUsersName()
{
    User nameless = managerOfAll(QStringLiteral("maja"));
    nameless.name.clear();
    const StorageError error = m_fixture.storage().calendars().assignCalendar(nameless, m_calendars.value("A"), QStringLiteral("E1"),
                                                                  day("2024-03-10"), assignedAt).error();
    QCOMPARE(error.code, StorageError::InvalidArgument);
    QCOMPARE(ranges(2024, 3), QString());
}

void TestStorageCalendar::visibilityFollowsDepartments()
{
    Database &s = m_fixture.storage();
    User user;
    user.name = QStringLiteral("viewer");
    user.departmentIds = {m_sales};
    QVERIFY(s.presence().employeeVisibleTo(user, QStringLiteral("E2")).value());
    QVERIFY(!s.presence().employeeVisibleTo(user, QStringLiteral("E1")).value());
    QVERIFY(!s.presence().employeeVisibleTo(user, QStringLiteral("E404")).value());
    user.allDepartments = true;
    QVERIFY(s.presence().employeeVisibleTo(user, QStringLiteral("E1")).value());
}

QTEST_GUILESS_MAIN(TestStorageCalendar)
#include "tst_storagecalendar.moc"
