// export presence | export registrations | report month: the organisation's data out as CSV or
// JSON, for HR and for scripts. Thin over the stores; the columns and the month's arithmetic
// live in the transfer library.

#include "cli/command.h"
#include "cli/staledays.h"
#include "transfer/monthreport.h"
#include "cli/tableexport.h"

#include <QTimeZone>

namespace vorna::service {

namespace {

using namespace vorna::transfer;

const QCommandLineOption AtOption(QStringLiteral("at"), QStringLiteral("The moment, as \"YYYY-MM-DD HH:MM[:SS]\"."),
                                  QStringLiteral("moment"));
const QCommandLineOption StaleDaysOption(QStringLiteral("stale-days"),
    QStringLiteral("A last activity is stale when it lies before the day of --at (1), before the day before it "
                   "(2), and so on, as with serve. Default: 1."),
    QStringLiteral("days"), QStringLiteral("1"));
const QCommandLineOption FromOption(QStringLiteral("from"), QStringLiteral("The first day, YYYY-MM-DD."),
                                    QStringLiteral("day"));
const QCommandLineOption ToOption(QStringLiteral("to"), QStringLiteral("The last day (included), YYYY-MM-DD."),
                                  QStringLiteral("day"));
const QCommandLineOption MonthOption(QStringLiteral("month"), QStringLiteral("The month, YYYY-MM."),
                                     QStringLiteral("month"));
const QCommandLineOption TimeZoneOption(QStringLiteral("time-zone"),
    QStringLiteral("The organisation's time zone, e.g. Europe/Belgrade, for the real length of nights when "
                   "summer time begins or ends. Default: the system's."),
    QStringLiteral("zone"));

// The shared frame: the output options, the usage check, and writing the rows `produce` gives.
class ExportCommand : public Command
{
public:
    QList<QCommandLineOption> options() const override
    {
        return ownOptions() << departmentOption(rowsWord()) << exportFormatOption() << outputOption();
    }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        const QString format = checkExportFormat(parser);
        return format.isEmpty() ? checkOwnUsage(parser) : format;
    }

    int run(const QCommandLineParser &parser, const QStringList &, Database &database, CommandContext &context) override
    {
        const Result<qint64> department = departmentOf(database, parser);
        if (!department)
            return context.fail(department.error());
        TableExport output(parser, columns());
        const QString opened = output.open();
        if (!opened.isEmpty())
            return context.fail(opened);
        // A failed write shows in finish(); the rows after it are dropped.
        const StorageError error = produce(parser, database, *department,
                                           [&](const QStringList &row) { output.writeRow(row); });
        if (!error.ok()) {
            output.cancel();
            return context.fail(error);
        }
        const QString finished = output.finish();
        return finished.isEmpty() ? ExitOk : context.fail(finished);
    }

protected:
    using Sink = std::function<void(const QStringList &)>;
    virtual QList<QCommandLineOption> ownOptions() const = 0;
    virtual QString checkOwnUsage(const QCommandLineParser &parser) const = 0;
    virtual QString rowsWord() const = 0; // "the employees", for --department's help
    virtual QVector<TableColumn> columns() const = 0;
    virtual StorageError produce(const QCommandLineParser &parser, Database &database, qint64 departmentId,
                                 const Sink &sink) = 0;
};

QString missing(const QCommandLineOption &option, const QString &form)
{
    return QStringLiteral("Give --%1 %2.").arg(option.names().constFirst(), form);
}

// ---- export presence ---------------------------------------------------------------------------

class ExportPresence final : public ExportCommand
{
public:
    QStringList words() const override { return {QStringLiteral("export"), QStringLiteral("presence")}; }
    QString summary() const override
    {
        return QStringLiteral("Writes who is where at a moment: the rows, in the order, that the panel gets.");
    }

protected:
    QList<QCommandLineOption> ownOptions() const override { return {AtOption, StaleDaysOption}; }
    QString rowsWord() const override { return QStringLiteral("the employees"); }
    QVector<TableColumn> columns() const override { return presenceColumns(); }

    QString checkOwnUsage(const QCommandLineParser &parser) const override
    {
        if (!parser.isSet(AtOption))
            return missing(AtOption, QStringLiteral("\"YYYY-MM-DD HH:MM[:SS]\""));
        if (!parseCivilMoment(parser.value(AtOption)))
            return QStringLiteral("--at takes a moment as \"YYYY-MM-DD HH:MM\" or \"YYYY-MM-DD HH:MM:SS\", not \"%1\".")
                .arg(parser.value(AtOption));
        int days = 0;
        return readStaleDays(parser.value(StaleDaysOption), &days);
    }

    StorageError produce(const QCommandLineParser &parser, Database &database, qint64 departmentId,
                         const Sink &sink) override
    {
        User everyone;
        everyone.allDepartments = departmentId == 0;
        if (departmentId)
            everyone.departmentIds = {departmentId};
        PresenceQuery query;
        query.at = *parseCivilMoment(parser.value(AtOption));
        query.staleAfterDays = parser.value(StaleDaysOption).toInt();
        // Every picture counts as known, so none is read.
        const Result<QVector<Employee>> employees = database.organisation().employees(departmentId);
        if (!employees)
            return employees.error();
        for (const Employee &employee : *employees)
            query.knownPictureDigests.insert(employee.pictureDigest);
        return database.presence().presence(everyone, query, [&](const PresenceRow &row) {
            sink({row.employeeId, row.lastName, row.firstName, row.department, row.activityDescription,
                  formatCivilMoment(row.lastActivity), formatYesNo(row.stale), row.status});
        });
    }
};

// ---- export registrations ----------------------------------------------------------------------

class ExportRegistrations final : public ExportCommand
{
public:
    QStringList words() const override { return {QStringLiteral("export"), QStringLiteral("registrations")}; }
    QString summary() const override
    {
        return QStringLiteral("Writes the registrations of a range of days, in the columns of registrations.csv.");
    }

protected:
    QList<QCommandLineOption> ownOptions() const override { return {FromOption, ToOption}; }
    QString rowsWord() const override { return QStringLiteral("the registrations of employees"); }
    QVector<TableColumn> columns() const override { return registrationColumns(); }

    QString checkOwnUsage(const QCommandLineParser &parser) const override
    {
        for (const QCommandLineOption &option : {FromOption, ToOption}) {
            if (!parser.isSet(option))
                return missing(option, QStringLiteral("YYYY-MM-DD"));
            if (!parseDay(parser.value(option)))
                return QStringLiteral("--%1 takes a day as YYYY-MM-DD, not \"%2\".")
                    .arg(option.names().constFirst(), parser.value(option));
        }
        if (*parseDay(parser.value(ToOption)) < *parseDay(parser.value(FromOption)))
            return QStringLiteral("--to names a day before --from; give the first day with --from and the last with --to.");
        return {};
    }

    StorageError produce(const QCommandLineParser &parser, Database &database, qint64 departmentId,
                         const Sink &sink) override
    {
        const Result<QVector<RegistrationRow>> rows = database.organisation().registrations(
            {*parseDay(parser.value(FromOption)), *parseDay(parser.value(ToOption)), departmentId, false});
        if (!rows)
            return rows.error();
        for (const RegistrationRow &row : *rows)
            sink({row.employeeId, formatCivilMoment(row.at), row.activity});
        return StorageError::none();
    }
};

// ---- report month ------------------------------------------------------------------------------

class ReportMonth final : public ExportCommand
{
public:
    QStringList words() const override { return {QStringLiteral("report"), QStringLiteral("month")}; }
    QString summary() const override
    {
        return QStringLiteral("Writes each employee's month: days present, hours present, calendars and exceptions.");
    }

protected:
    QList<QCommandLineOption> ownOptions() const override { return {MonthOption, TimeZoneOption}; }
    QString rowsWord() const override { return QStringLiteral("the employees"); }
    QVector<TableColumn> columns() const override { return monthReportColumns(); }

    QString checkOwnUsage(const QCommandLineParser &parser) const override
    {
        if (!parser.isSet(MonthOption))
            return missing(MonthOption, QStringLiteral("YYYY-MM"));
        if (!parseMonth(parser.value(MonthOption)))
            return QStringLiteral("--month takes a month as YYYY-MM, not \"%1\".").arg(parser.value(MonthOption));
        if (parser.isSet(TimeZoneOption) && !QTimeZone(parser.value(TimeZoneOption).toUtf8()).isValid())
            return QStringLiteral("--time-zone names no time zone this system knows: \"%1\". Use a name such as "
                                  "Europe/Belgrade.").arg(parser.value(TimeZoneOption));
        return {};
    }

    StorageError produce(const QCommandLineParser &parser, Database &database, qint64 departmentId,
                         const Sink &sink) override
    {
        const Month month = *parseMonth(parser.value(MonthOption));
        const QTimeZone zone = parser.isSet(TimeZoneOption) ? QTimeZone(parser.value(TimeZoneOption).toUtf8())
                                                            : QTimeZone::systemTimeZone();
        OrganisationStore &organisation = database.organisation();
        const Result<QVector<Employee>> employees = organisation.employees(departmentId);
        const Result<QVector<Department>> departments = organisation.departments();
        const Result<QVector<RegistrationRow>> registrations =
            organisation.registrations({month.firstDay(), month.lastDay(), departmentId, true});
        const Result<QVector<EmployeeMonth>> calendars =
            database.calendars().month(month.year, month.month, departmentId);
        for (const StorageError &error : {employees.error(), departments.error(), registrations.error(), calendars.error()}) {
            if (!error.ok())
                return error;
        }
        QHash<qint64, QString> departmentNames;
        for (const Department &department : *departments)
            departmentNames.insert(department.id, department.name);
        QHash<QString, MonthInput> inputs;
        for (const RegistrationRow &row : *registrations)
            inputs[row.employeeId].registrations.append({row.at, row.countsPresent});
        for (const EmployeeMonth &history : *calendars) {
            MonthInput &input = inputs[history.employeeId];
            for (const CalendarRange &range : history.calendars)
                input.calendars.append({range.calendarName, range.validBegin.date()});
            for (const ExceptionDay &day : history.exceptions)
                input.exceptions.append({day.day, day.dayName});
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const Employee &employee : *employees) {
            // Those who left before the month have nothing in it.
            if (employee.leftOn.isValid() && employee.leftOn < month.firstDay())
                continue;
            MonthInput input = inputs.value(employee.id);
            input.month = month;
            sink(monthReportRow(employee.id, employee.lastName, employee.firstName,
                                departmentNames.value(employee.departmentId), computeMonth(input, zone, now)));
        }
        return StorageError::none();
    }
};

} // namespace

void addExportCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<ExportPresence>());
    commands.push_back(std::make_unique<ExportRegistrations>());
    commands.push_back(std::make_unique<ReportMonth>());
}

} // namespace vorna::service
