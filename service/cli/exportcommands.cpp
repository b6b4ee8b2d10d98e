// export presence | export registrations | report month: the organisation's data out as CSV or
// JSON, for HR and for scripts. export pictures: the employees' pictures as they came in, as
// files. Thin over the stores; the columns and the month's arithmetic live in the transfer
// library.

#include "cli/command.h"
#include "cli/progressprinter.h"
#include "cli/staledays.h"
#include "transfer/monthreport.h"
#include "transfer/rendition.h"
#include "cli/tableexport.h"

#include <QDir>
#include <QSaveFile>
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

// ---- export pictures ---------------------------------------------------------------------------

const QCommandLineOption ForceOption(QStringLiteral("force"),
                                     QStringLiteral("Replaces the files in DIR that have the names of pictures to write."));

// The employee's id as a file name: "/" cannot stand in one, and a leading "." would hide the
// file (or name "." or ".."), so those, and "%" itself, are written as %XX.
QString pictureFileName(const QString &employeeId, const QByteArray &leadingBytes)
{
    QString name;
    for (int i = 0; i < employeeId.size(); ++i) {
        const QChar c = employeeId.at(i);
        if (c == QLatin1Char('/') || c == QLatin1Char('%') || (i == 0 && c == QLatin1Char('.')))
            name += QLatin1Char('%') + QString::number(c.unicode(), 16).toUpper();
        else
            name += c;
    }
    return name + QLatin1Char('.') + pictureFileExtension(leadingBytes.left(PictureSignatureBytes));
}

// Written beside its final name and renamed into place, so the file is whole or absent. The
// flush comes first: commit() would close the file without telling that its last bytes never
// reached a full disk.
QString writePictureFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit())
        return {};
    return QStringLiteral("Could not write %1 (%2). Check that the disk has room and the folder may be written, then "
                          "run the export again.")
        .arg(QDir::toNativeSeparators(path), file.errorString());
}

class ExportPictures final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("export"), QStringLiteral("pictures")}; }
    QString summary() const override
    {
        return QStringLiteral("Writes the employees' pictures as they came in, one file per employee named by the id "
                              "(ID.jpg or ID.png), into a folder.");
    }
    QList<Argument> arguments() const override
    {
        return {{QStringLiteral("DIR"), QStringLiteral("The folder to write to; made when missing.")}};
    }
    QList<QCommandLineOption> options() const override
    {
        return {departmentOption(QStringLiteral("the pictures of employees")), ForceOption};
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QDir folder(arguments.at(0));
        const Result<qint64> department = departmentOf(database, parser);
        if (!department)
            return context.fail(department.error());
        const Result<QVector<StoredPicture>> heads = database.organisation().pictureHeads(*department, PictureSignatureBytes);
        if (!heads)
            return context.fail(heads.error());
        if (!QDir().mkpath(folder.path()))
            return context.fail(QStringLiteral("Cannot make the folder %1. Check that its parent may be written, or "
                                               "name another folder.")
                                    .arg(QDir::toNativeSeparators(folder.path())));
        const QString taken = parser.isSet(ForceOption) ? QString() : takenNames(folder, *heads);
        if (!taken.isEmpty())
            return context.fail(taken);
        ProgressPrinter progress;
        const QString phase = QStringLiteral("Writing pictures");
        qint64 written = 0;
        QString failure;
        const StorageError error = database.organisation().pictureOriginals(*department, [&](const StoredPicture &picture) {
            progress.report(phase, written, heads->size());
            failure = writePictureFile(folder.filePath(pictureFileName(picture.employeeId, picture.bytes)), picture.bytes);
            written += failure.isEmpty() ? 1 : 0;
            return failure.isEmpty();
        });
        progress.report(phase, written, heads->size());
        progress.finish();
        if (!failure.isEmpty())
            return context.fail(failure + QLatin1Char(' ') + writtenBefore(written));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Wrote %1 pictures to %2.\n").arg(written).arg(QDir::toNativeSeparators(folder.path()));
        return ExitOk;
    }

private:
    static QString writtenBefore(qint64 written)
    {
        if (written == 0)
            return QStringLiteral("No picture was written.");
        if (written == 1)
            return QStringLiteral("The picture written before it is complete.");
        return QStringLiteral("The %1 pictures written before it are complete.").arg(written);
    }

    // The files the export would replace, as a sentence; empty when there are none.
    static QString takenNames(const QDir &folder, const QVector<StoredPicture> &heads)
    {
        QStringList taken;
        for (const StoredPicture &head : heads) {
            const QString name = pictureFileName(head.employeeId, head.bytes);
            if (QFileInfo::exists(folder.filePath(name)))
                taken << name;
        }
        if (taken.isEmpty())
            return {};
        const int shown = 5;
        return QStringLiteral("The folder %1 holds files of the names the export writes already (%2%3, %4 in all), "
                              "so nothing was written. Give --force to replace them, or name another folder.")
            .arg(QDir::toNativeSeparators(folder.path()), taken.mid(0, shown).join(QStringLiteral(", ")),
                 taken.size() > shown ? QStringLiteral(" ...") : QString())
            .arg(taken.size());
    }
};

} // namespace

void addExportCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<ExportPresence>());
    commands.push_back(std::make_unique<ExportRegistrations>());
    commands.push_back(std::make_unique<ExportPictures>());
    commands.push_back(std::make_unique<ReportMonth>());
}

} // namespace vorna::service
