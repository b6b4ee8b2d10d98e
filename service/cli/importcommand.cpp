// import: loads an organisation from a folder of CSV files. Every file is read and checked
// before anything is written; the writing runs in one transaction, so an import is kept whole
// or not at all. A dry run does the same work and rolls it back.

#include "cli/command.h"
#include "transfer/importfolder.h"
#include "cli/progressprinter.h"

#include <QSet>

namespace vorna::service {

namespace {

using namespace vorna::transfer;
using Kind = OrganisationStore::Kind;

const QCommandLineOption DryRunOption(QStringLiteral("dry-run"),
                                      QStringLiteral("Checks everything and reports what the import would do, "
                                                     "but writes nothing."));

// What the rows name, by name: what the database holds, plus what the import adds.
struct Names
{
    QHash<QString, qint64> departments;
    QHash<QString, qint64> statuses;
    QHash<QString, qint64> activities;
    QHash<QString, Employee> employees; // without pictures
};

using Report = QVector<QPair<ImportFile, ImportCounts>>;

void count(ImportCounts *counts, Upsert outcome)
{
    switch (outcome) {
    case Upsert::Added: ++counts->added; break;
    case Upsert::Changed: ++counts->changed; break;
    case Upsert::Unchanged: ++counts->unchanged; break;
    }
}

// The kinds that are a name and perhaps a colour or a status; `upsert` stores one row and
// gives its number.
template<typename Row>
StorageError writeNamed(const QVector<Row> &rows, ImportCounts *counts, QHash<QString, qint64> *ids,
                        const std::function<Result<Upsert>(const Row &, qint64 *)> &upsert)
{
    for (const Row &row : rows) {
        qint64 id = 0;
        const Result<Upsert> outcome = upsert(row, &id);
        if (!outcome)
            return outcome.error();
        count(counts, *outcome);
        if (ids)
            ids->insert(row.name, id);
    }
    return StorageError::none();
}

class ImportWriter
{
public:
    ImportWriter(Transaction &tx, OrganisationStore &organisation, const ImportBatch &batch, const Progress &progress)
        : m_tx(tx), m_organisation(organisation), m_batch(batch), m_progress(progress)
    {
    }

    // Reads what the database holds and checks the batch's references against it.
    StorageError readNames(ImportErrors *errors)
    {
        for (const auto &[kind, ids] : {std::pair{Kind::Department, &m_names.departments},
                                        std::pair{Kind::Status, &m_names.statuses},
                                        std::pair{Kind::Activity, &m_names.activities}}) {
            Result<QHash<QString, qint64>> found = m_organisation.idsByName(m_tx, kind);
            if (!found)
                return found.error();
            *ids = found.take();
        }
        const Result<QVector<Employee>> employees = m_organisation.employees(m_tx);
        if (!employees)
            return employees.error();
        for (const Employee &employee : *employees)
            m_names.employees.insert(employee.id, employee);
        ExistingNames existing;
        existing.departments = keys(m_names.departments);
        existing.statuses = keys(m_names.statuses);
        existing.activities = keys(m_names.activities);
        for (auto it = m_names.employees.cbegin(); it != m_names.employees.cend(); ++it)
            existing.employees.insert(it.key());
        checkReferences(m_batch, existing, errors);
        return StorageError::none();
    }

    // Writes every file read, in the order of ImportFile, and reports what each did.
    StorageError write(Report *report)
    {
        for (const ImportFile file : m_batch.filesRead()) {
            ImportCounts counts;
            counts.duplicates = m_batch.duplicates[int(file)];
            const StorageError error = writeFile(file, &counts);
            if (!error.ok())
                return error;
            report->append({file, counts});
        }
        return StorageError::none();
    }

private:
    static QSet<QString> keys(const QHash<QString, qint64> &ids)
    {
        QSet<QString> names;
        for (auto it = ids.cbegin(); it != ids.cend(); ++it)
            names.insert(it.key());
        return names;
    }

    StorageError writeFile(ImportFile file, ImportCounts *counts)
    {
        OrganisationStore &o = m_organisation;
        Transaction &tx = m_tx;
        switch (file) {
        case ImportFile::Departments:
            return writeNamed<DepartmentRow>(m_batch.departments, counts, &m_names.departments,
                                             [&](const DepartmentRow &row, qint64 *id) {
                                                 Department department{0, row.name};
                                                 const Result<Upsert> done = o.upsertDepartment(tx, department);
                                                 *id = department.id;
                                                 return done;
                                             });
        case ImportFile::Statuses:
            return writeNamed<StatusRow>(m_batch.statuses, counts, &m_names.statuses,
                                         [&](const StatusRow &row, qint64 *id) {
                                             PresenceStatus status{0, row.name, storedColorFromRgb(row.color), row.present};
                                             const Result<Upsert> done = o.upsertStatus(tx, status);
                                             *id = status.id;
                                             return done;
                                         });
        case ImportFile::Activities:
            return writeNamed<ActivityRow>(m_batch.activities, counts, &m_names.activities,
                                           [&](const ActivityRow &row, qint64 *id) {
                                               ActivityKind kind{0, row.name, m_names.statuses.value(row.status)};
                                               const Result<Upsert> done = o.upsertActivityKind(tx, kind);
                                               *id = kind.id;
                                               return done;
                                           });
        case ImportFile::Calendars:
            return writeNamed<CalendarRow>(m_batch.calendars, counts, nullptr, [&](const CalendarRow &row, qint64 *) {
                Calendar calendar{0, row.name, storedColorFromRgb(row.color)};
                return o.upsertCalendar(tx, calendar);
            });
        case ImportFile::WorkDays:
            return writeNamed<WorkDayRow>(m_batch.workDays, counts, nullptr, [&](const WorkDayRow &row, qint64 *) {
                WorkDayKind kind{0, row.name, storedColorFromRgb(row.color)};
                return o.upsertWorkDayKind(tx, kind);
            });
        case ImportFile::Employees:
            return writeEmployees(counts);
        case ImportFile::Registrations:
            return writeRegistrations(counts);
        }
        return StorageError::none();
    }

    // A batch of pictures at a time is read again and in memory: a picture that is stored
    // already with the same original needs no new rendition.
    StorageError writeEmployees(ImportCounts *counts)
    {
        const Result<QHash<QString, QByteArray>> stored = m_organisation.originalPictureDigests(m_tx);
        if (!stored)
            return stored.error();
        const auto changedPicture = [&](const EmployeeRow &row) { return stored->value(row.id) != row.pictureDigest; };
        const int total = m_batch.employees.size();
        for (int first = 0; first < total; first += PictureBatchSize) {
            const QVector<EmployeeRow> rows = m_batch.employees.mid(first, PictureBatchSize);
            const QVector<LoadedPicture> pictures = loadCheckedPictures(m_batch.folder, rows, changedPicture);
            for (int i = 0; i < rows.size(); ++i) {
                const StorageError error = writeEmployee(rows.at(i), pictures.at(i), counts);
                if (!error.ok())
                    return error;
            }
            if (m_progress)
                m_progress(QStringLiteral("Writing employees"), first + rows.size(), total);
        }
        return StorageError::none();
    }

    StorageError writeEmployee(const EmployeeRow &row, const LoadedPicture &picture, ImportCounts *counts)
    {
        if (!picture.problem.isEmpty())
            return {StorageError::InvalidArgument, picture.problem};
        Employee employee{row.id, row.lastName, row.firstName, m_names.departments.value(row.department),
                          picture.bytes, {}, {}, picture.rendition};
        // The file does not say who left; a stored last day stays.
        employee.leftOn = m_names.employees.value(row.id).leftOn;
        const Result<Upsert> outcome = m_organisation.upsertEmployee(m_tx, employee);
        if (!outcome)
            return outcome.error();
        count(counts, *outcome);
        employee.picture.clear();
        employee.rendition.clear();
        m_names.employees.insert(row.id, employee);
        return StorageError::none();
    }

    StorageError writeRegistrations(ImportCounts *counts)
    {
        QVector<Registration> registrations;
        registrations.reserve(m_batch.registrations.size());
        QSet<qint64> departments;
        for (const transfer::RegistrationRow &row : m_batch.registrations) {
            registrations.append({row.employee, row.at, m_names.activities.value(row.activity), QStringLiteral("import")});
            departments.insert(m_names.employees.value(row.employee).departmentId);
        }
        const Result<qint64> added = m_organisation.addNewRegistrations(m_tx, registrations, m_progress);
        if (!added)
            return added.error();
        counts->added = *added;
        counts->unchanged = registrations.size() - *added;
        // Running services tell their panels once the import commits; a dry run's rollback
        // takes the announcement back with everything else.
        if (*added > 0)
            return PresenceStore::announcePresenceChanges(m_tx, departments);
        return StorageError::none();
    }

    Transaction &m_tx;
    OrganisationStore &m_organisation;
    const ImportBatch &m_batch;
    Progress m_progress;
    Names m_names;
};

class ImportCommand final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("import")}; }
    QString summary() const override
    {
        return QStringLiteral("Loads departments, statuses, activities, calendars, working-day kinds, employees "
                              "and registrations from the CSV files in a folder, all or nothing.");
    }
    QList<Argument> arguments() const override
    {
        return {{QStringLiteral("DIR"), QStringLiteral("The folder that holds the CSV files (see docs/service.md).")}};
    }
    QList<QCommandLineOption> options() const override { return {DryRunOption}; }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QString folder = arguments.at(0);
        const bool dryRun = parser.isSet(DryRunOption);
        ProgressPrinter progress;
        ImportErrors errors;
        const ImportBatch batch = readImportFolder(folder, &errors, progress.callback());
        Report report;
        bool rolledBack = false;
        const StorageError error = database.write(QStringLiteral("import %1").arg(quoted(folder)), [&](Transaction &tx) {
            report.clear();
            ImportWriter writer(tx, database.organisation(), batch, progress.callback());
            StorageError step = writer.readNames(&errors);
            if (step.ok() && errors.isEmpty())
                step = writer.write(&report);
            if (!step.ok())
                return step;
            rolledBack = dryRun || !errors.isEmpty();
            // Failing the work is what rolls the transaction back.
            return rolledBack ? StorageError{StorageError::InvalidArgument, QStringLiteral("Nothing written.")}
                              : StorageError::none();
        });
        progress.finish();
        if (!errors.isEmpty())
            return context.fail(errors.lines().join(QLatin1Char('\n'))
                                + QStringLiteral("\nNothing was imported. Correct the files and run the import again."));
        if (!error.ok() && !rolledBack)
            return context.fail(error);
        for (const auto &[file, counts] : report)
            context.out() << reportLine(file, counts) << '\n';
        if (dryRun)
            context.out() << "Dry run: nothing was written.\n";
        context.out().flush();
        return ExitOk;
    }
};

} // namespace

void addImportCommand(CommandList &commands)
{
    commands.push_back(std::make_unique<ImportCommand>());
}

} // namespace vorna::service
