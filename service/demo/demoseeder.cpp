#include "demo/demoseeder.h"

namespace vorna::service {

namespace {

// Employees are stored and registered in batches of this size, so memory stays bounded.
constexpr int batchSize = 500;

const QString referencePhase = QStringLiteral("reference data");
const QString employeesPhase = QStringLiteral("employees");
const QString assignmentsPhase = QStringLiteral("assignments");

void report(const Progress &progress, const QString &phase, qint64 done, qint64 total)
{
    if (progress)
        progress(phase, done, total);
}

// The assignments of the demo are recorded in the audit log under this name.
User demoManager()
{
    User user;
    user.name = QStringLiteral("demo");
    user.role = Role::Manager;
    user.allDepartments = true;
    return user;
}

} // namespace

DemoSeeder::DemoSeeder(OrganisationStore &organisation, CalendarStore &calendars)
    : m_organisation(organisation), m_calendars(calendars)
{
}

StorageError DemoSeeder::seed(Transaction &tx, const DemoOptions &options, const Progress &progress,
                              DemoSummary *summary)
{
    const QString problem = DemoPlan::checkOptions(options);
    if (!problem.isEmpty())
        return {StorageError::InvalidArgument, problem};
    StorageError error = checkEmpty(tx);
    if (!error.ok())
        return error;
    DemoSummary counts;
    const DemoPlan plan(options);
    Ids ids;
    report(progress, referencePhase, 0, 1);
    error = addReferenceData(tx, &ids);
    if (!error.ok())
        return error;
    report(progress, referencePhase, 1, 1);
    counts.departments = ids.departments.size();
    error = addPeople(tx, plan, ids, progress, &counts);
    if (error.ok())
        error = addAssignments(tx, plan, ids, progress, &counts);
    if (summary)
        *summary = counts;
    return error;
}

StorageError DemoSeeder::checkEmpty(Transaction &tx)
{
    const Result<qint64> departments = tx.row<qint64>(
        QStringLiteral("SELECT COUNT(*) FROM departments"), {}, [](const QSqlQuery &q) { return q.value(0).toLongLong(); },
        QStringLiteral("count the departments"), StorageError::none());
    if (!departments)
        return departments.error();
    if (*departments == 0)
        return StorageError::none();
    return {StorageError::AlreadyExists,
            QStringLiteral("The %1 already holds an organisation (%2 departments); demo data goes only into an "
                           "empty database. Give a new database, or keep using this one.")
                .arg(tx.dialect().label)
                .arg(*departments)};
}

StorageError DemoSeeder::addReferenceData(Transaction &tx, Ids *ids)
{
    for (const QString &name : DemoPlan::departments()) {
        Department department{0, name};
        if (const StorageError error = m_organisation.addDepartment(tx, department); !error.ok())
            return error;
        ids->departments << department.id;
    }
    for (int i = 0; i < DemoPlan::statuses().size(); ++i) {
        const DemoNamed &named = DemoPlan::statuses().at(i);
        // Time at work, on site or away on business, counts in the monthly report.
        const bool present = DemoStatus(i) == DemoStatus::Present || DemoStatus(i) == DemoStatus::BusinessTrip;
        PresenceStatus status{0, named.name, named.color, present};
        if (const StorageError error = m_organisation.addPresenceStatus(tx, status); !error.ok())
            return error;
        ids->statuses << status.id;
    }
    for (int i = 0; i < DemoPlan::activities().size(); ++i) {
        const DemoActivity activity = DemoActivity(i);
        ActivityKind kind{0, DemoPlan::activities().at(i), ids->statuses.at(int(DemoPlan::statusOf(activity)))};
        if (const StorageError error = m_organisation.addActivityKind(tx, kind); !error.ok())
            return error;
        ids->activities << kind.id;
    }
    for (const DemoShift &shift : DemoPlan::shifts()) {
        Calendar calendar{0, shift.calendar.name, shift.calendar.color};
        if (const StorageError error = m_organisation.addCalendar(tx, calendar); !error.ok())
            return error;
        ids->calendars << calendar.id;
    }
    for (const DemoNamed &named : DemoPlan::dayKinds()) {
        WorkDayKind kind{0, named.name, named.color};
        if (const StorageError error = m_organisation.addWorkDayKind(tx, kind); !error.ok())
            return error;
        ids->dayKinds << kind.id;
    }
    return StorageError::none();
}

StorageError DemoSeeder::addPeople(Transaction &tx, const DemoPlan &plan, const Ids &ids, const Progress &progress, DemoSummary *summary)
{
    const int total = plan.employeeCount();
    for (int start = 0; start < total; start += batchSize) {
        report(progress, employeesPhase, start, total);
        QVector<Employee> employees;
        QVector<Registration> registrations;
        for (int i = start; i < std::min(start + batchSize, total); ++i) {
            const DemoEmployee e = plan.employee(i);
            employees.append({e.id, e.lastName, e.firstName, ids.departments.at(e.department), plan.picture(e), {}, {}});
            for (const DemoRegistration &r : plan.registrations(e))
                registrations.append({e.id, r.at, ids.activities.at(int(r.activity)), QStringLiteral("demo")});
        }
        StorageError error = m_organisation.addEmployees(tx, employees);
        if (error.ok())
            error = m_organisation.addRegistrations(tx, registrations);
        if (!error.ok())
            return error;
        summary->employees += employees.size();
        summary->registrations += registrations.size();
    }
    report(progress, employeesPhase, total, total);
    return StorageError::none();
}

StorageError DemoSeeder::addAssignments(Transaction &tx, const DemoPlan &plan, const Ids &ids, const Progress &progress,
                                        DemoSummary *summary)
{
    const User manager = demoManager();
    const QVector<QDate> holidays = plan.holidays();
    const int total = plan.employeeCount();
    const auto assignDay = [&](const DemoEmployee &e, DemoDayKind kind, const QDate &day) {
        ++summary->assignments;
        return m_calendars.assignWorkDay(tx, manager, ids.dayKinds.at(int(kind)), e.id, day, plan.now()).error();
    };
    for (int i = 0; i < total; ++i) {
        if (i % 100 == 0)
            report(progress, assignmentsPhase, i, total);
        const DemoEmployee e = plan.employee(i);
        ++summary->assignments;
        StorageError error =
            m_calendars.assignCalendar(tx, manager, ids.calendars.at(e.shift), e.id, e.startDay, plan.now()).error();
        if (error.ok() && e.switchDay.isValid()) {
            ++summary->assignments;
            error = m_calendars.assignCalendar(tx, manager, ids.calendars.at(e.switchShift), e.id, e.switchDay, plan.now())
                        .error();
        }
        if (i >= detailedEmployees)
            continue;
        for (int h = 0; error.ok() && h < holidays.size(); ++h) {
            if (holidays.at(h) >= e.startDay)
                error = assignDay(e, DemoDayKind::Holiday, holidays.at(h));
        }
        for (auto a = e.absences.cbegin(); error.ok() && a != e.absences.cend(); ++a)
            error = assignDay(e, DemoPlan::dayKindOf(a.value()), a.key());
        if (!error.ok())
            return error;
    }
    report(progress, assignmentsPhase, total, total);
    return StorageError::none();
}

} // namespace vorna::service
