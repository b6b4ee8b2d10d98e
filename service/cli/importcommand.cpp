// import: loads an organisation from a folder of CSV files. Every file is read and checked
// before anything becomes visible. While the check reads the pictures it stores the new ones
// (staging), a batch per short transaction; nobody refers to them yet, so nobody sees them.
// Then one short transaction writes the rows, employees referring to the staged pictures, so
// an import is kept whole or not at all; when it is not kept, the pictures it staged go again.
// A dry run stages nothing, and does the rest in a transaction it rolls back.

#include "cli/command.h"
#include "transfer/importfolder.h"
#include "cli/progressprinter.h"

#include <QSet>

namespace vorna::service {

namespace {

using namespace vorna::transfer;
using Kind = OrganisationStore::Kind;

// A picture that nobody refers to and that was stored longer ago than this was left by an
// import that was stopped: far longer than an import runs, so one still running keeps its own.
constexpr std::chrono::hours AbandonedPictureAge{24};

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

    // The pictures were stored while the folder was checked: employees refer to them by their
    // originals' digests, and no picture bytes pass through this transaction. A picture an
    // employee no longer has goes at the end, unless another employee of the file took it.
    StorageError writeEmployees(ImportCounts *counts)
    {
        QSet<QByteArray> released;
        const int total = m_batch.employees.size();
        for (int done = 0; done < total; ++done) {
            const StorageError error = writeEmployee(m_batch.employees.at(done), &released, counts);
            if (!error.ok())
                return error;
            if (m_progress && ((done + 1) % 1000 == 0 || done + 1 == total))
                m_progress(QStringLiteral("Writing employees"), done + 1, total);
        }
        return OrganisationStore::removeUnreferencedPictures(m_tx, released);
    }

    StorageError writeEmployee(const EmployeeRow &row, QSet<QByteArray> *released, ImportCounts *counts)
    {
        Employee employee{row.id, row.lastName, row.firstName, m_names.departments.value(row.department), {}, {}, {}};
        employee.originalDigest = row.pictureDigest;
        // The file does not say who left; a stored last day stays.
        employee.leftOn = m_names.employees.value(row.id).leftOn;
        const Result<Upsert> outcome = m_organisation.upsertEmployee(m_tx, employee, released);
        if (!outcome)
            return outcome.error();
        count(counts, *outcome);
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
        OrganisationStore &organisation = database.organisation();
        if (!dryRun) {
            const Result<int> removed = organisation.removeAbandonedPictures(AbandonedPictureAge);
            if (!removed)
                return context.fail(removed.error());
        }
        const Result<QSet<QByteArray>> stored = organisation.storedPictureDigests();
        if (!stored)
            return context.fail(stored.error());
        Staging staging{{*stored, {}}, {}, {}};
        if (!dryRun)
            staging.pictures.store = [&](const QVector<CheckedPicture> &pictures) {
                return stage(organisation, pictures, &staging);
            };
        ProgressPrinter progress;
        ImportErrors errors;
        const ImportBatch batch = readImportFolder(folder, &errors, progress.callback(), &staging.pictures);
        Report report;
        bool rolledBack = false;
        StorageError error = staging.failure;
        if (error.ok())
            error = database.write(QStringLiteral("import %1").arg(quoted(folder)), [&](Transaction &tx) {
                report.clear();
                // A dry run stored no picture: stand-ins, rolled back with the rest, take their place.
                StorageError step = dryRun ? OrganisationStore::addPictureStandIns(tx, staging.pictures.stored - *stored)
                                           : StorageError::none();
                if (step.ok())
                    step = writeBatch(tx, organisation, batch, progress.callback(), &errors, &report);
                if (!step.ok())
                    return step;
                rolledBack = dryRun || !errors.isEmpty();
                // Failing the work is what rolls the transaction back.
                return rolledBack ? StorageError{StorageError::InvalidArgument, QStringLiteral("Nothing written.")}
                                  : StorageError::none();
            });
        progress.finish();
        const QString leftBehind = error.ok() && errors.isEmpty() ? QString() : removeStaged(organisation, staging);
        if (!errors.isEmpty())
            return context.fail(errors.lines().join(QLatin1Char('\n'))
                                + QStringLiteral("\nNothing was imported. Correct the files and run the import again.")
                                + leftBehind);
        if (!error.ok() && !rolledBack)
            return context.fail(StorageError{error.code, error.message + leftBehind});
        for (const auto &[file, counts] : report)
            context.out() << reportLine(file, counts) << '\n';
        if (dryRun)
            context.out() << "Dry run: nothing was written.\n";
        context.out().flush();
        return ExitOk;
    }

private:
    // The pictures the check hands on, and what storing them did.
    struct Staging
    {
        PictureStaging pictures;
        QVector<QByteArray> added; // digests of the pictures this import stored
        StorageError failure;
    };

    // Stores a batch of checked pictures in a short transaction of its own; false stops the
    // staging once the database refused, so the import fails with its sentence.
    static bool stage(OrganisationStore &organisation, const QVector<CheckedPicture> &pictures, Staging *staging)
    {
        const Result<QVector<QByteArray>> added = organisation.stagePictures(pictures);
        if (!added) {
            staging->failure = added.error();
            return false;
        }
        staging->added += *added;
        return true;
    }

    static StorageError writeBatch(Transaction &tx, OrganisationStore &organisation, const ImportBatch &batch,
                                   const Progress &progress, ImportErrors *errors, Report *report)
    {
        ImportWriter writer(tx, organisation, batch, progress);
        const StorageError error = writer.readNames(errors);
        if (!error.ok() || !errors->isEmpty())
            return error;
        return writer.write(report);
    }

    // What a failed import stored and nobody refers to goes again. When even that fails, the
    // next import removes it (AbandonedPictureAge): the sentence that says so, else nothing.
    static QString removeStaged(OrganisationStore &organisation, const Staging &staging)
    {
        const StorageError cleanup = organisation.removeUnreferencedPictures(staging.added);
        return cleanup.ok() ? QString()
                            : QStringLiteral("\n%1 The next import removes the pictures this one stored.")
                                  .arg(cleanup.message);
    }
};

} // namespace

void addImportCommand(CommandList &commands)
{
    commands.push_back(std::make_unique<ImportCommand>());
}

} // namespace vorna::service
