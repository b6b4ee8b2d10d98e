// Measures the storage's presence query on a large organisation: by default 10,000 employees
// with 10,000,000 registrations, on SQLite and, when VORNA_TEST_PG names a server, on
// PostgreSQL. The databases are built once through the storage's own bulk load and kept for
// later runs: SQLite files under $VORNA_BENCH_DIR (default /tmp/vorna-bench), PostgreSQL
// databases named vorna_bench_presence_* on that server.
//
// Figures, each the median, min and max of the runs after one warm-up run, with the ratio of
// the median to the 100 ms budget where the budget applies:
//   refresh       now, the caller holds every picture (the panel's reload);
//   first_load    now, every picture sent (the panel's first list);
//   past_refresh  at a moment most employees registered after, so every one of them needs
//                 the index seek (a list for an earlier time of the day).
// The engine's plan of the query follows each engine's figures.

#include "storage/migrationcatalog.h"
#include "storage/sqldialect.h"
#include "storage/database.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>

using namespace vorna::service;

namespace {

constexpr double budgetMs = 100.0;
constexpr int departments = 20;
constexpr int registrationsPerDay = 4;
constexpr int pictureBytes = 3000;
constexpr int registrationsPerBatch = 250000; // one transaction each
const QDate firstDay(2023, 1, 2);

struct Shape
{
    int employees = 10000;
    int perEmployee = 1000;
    int runs = 7;

    int days() const { return std::max(1, perEmployee / registrationsPerDay); }
    QString tag() const { return QStringLiteral("%1x%2").arg(employees).arg(perEmployee); }
    // Names a kept database: the shape and the schema it was built with.
    QString cacheTag() const
    {
        QString problem;
        const int schema = MigrationCatalog::load(QStringLiteral("sqlite"), {}, &problem).size();
        return QStringLiteral("%1_v%2").arg(tag()).arg(schema);
    }
    // The panel's usual question: the evening of the last day, after every registration.
    QDateTime now() const { return QDateTime(firstDay.addDays(days() - 1), QTime(20, 0), Qt::UTC); }
    // A moment most employees registered after, so each of them needs the index seek.
    QDateTime past() const { return QDateTime(firstDay.addDays(days() - 1), QTime(10, 0), Qt::UTC); }
};

void say(const QString &line)
{
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

QString employeeId(int i)
{
    return QStringLiteral("B%1").arg(i, 6, 10, QLatin1Char('0'));
}

User everyone()
{
    User user;
    user.name = QStringLiteral("bench");
    user.role = Role::Manager;
    user.allDepartments = true;
    return user;
}

// ---- Building the database ------------------------------------------------------------------

struct Kinds
{
    qint64 arrival = 0, breakStart = 0, breakEnd = 0, departure = 0;
};

StorageError addReferenceData(Database &storage, QVector<qint64> *departmentIds, Kinds *kinds)
{
    for (int d = 0; d < departments; ++d) {
        Department department{0, QStringLiteral("Department %1").arg(d + 1)};
        if (StorageError e = storage.organisation().addDepartment(department); !e.ok())
            return e;
        departmentIds->append(department.id);
    }
    PresenceStatus present{0, QStringLiteral("Present"), 0x0047A043};
    PresenceStatus onBreak{0, QStringLiteral("On break"), 0x0000B3FF};
    PresenceStatus absent{0, QStringLiteral("Absent"), 0x003539E5};
    for (PresenceStatus *status : {&present, &onBreak, &absent}) {
        if (StorageError e = storage.organisation().addPresenceStatus(*status); !e.ok())
            return e;
    }
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    ActivityKind breakStart{0, QStringLiteral("Break start"), onBreak.id};
    ActivityKind breakEnd{0, QStringLiteral("Break end"), present.id};
    ActivityKind departure{0, QStringLiteral("Departure"), absent.id};
    for (ActivityKind *kind : {&arrival, &breakStart, &breakEnd, &departure}) {
        if (StorageError e = storage.organisation().addActivityKind(*kind); !e.ok())
            return e;
    }
    *kinds = {arrival.id, breakStart.id, breakEnd.id, departure.id};
    return StorageError::none();
}

StorageError addEmployees(Database &storage, const Shape &shape, const QVector<qint64> &departmentIds)
{
    QRandomGenerator random(1);
    QVector<Employee> employees;
    for (int i = 0; i < shape.employees; ++i) {
        QByteArray picture(pictureBytes, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(picture.data()), pictureBytes / 4);
        employees.append({employeeId(i), QStringLiteral("Last%1").arg(random.bounded(5000)),
                          QStringLiteral("First%1").arg(random.bounded(300)), departmentIds.at(i % departments),
                          picture, {}, {}});
    }
    return storage.organisation().addEmployees(employees);
}

// Day by day, as a service receives them: each employee's rows are spread over the whole table,
// which is the hard case for the query. One in thirty days an employee does not come.
StorageError addRegistrations(Database &storage, const Shape &shape, const Kinds &kinds)
{
    QRandomGenerator random(2);
    QVector<QString> ids;
    for (int i = 0; i < shape.employees; ++i)
        ids << employeeId(i);
    const QString source = QStringLiteral("bench");
    const qint64 total = qint64(shape.days()) * shape.employees * registrationsPerDay;
    qint64 stored = 0;
    QVector<Registration> batch;
    batch.reserve(registrationsPerBatch);
    QElapsedTimer clock;
    clock.start();
    for (int d = 0; d < shape.days(); ++d) {
        const QDate day = firstDay.addDays(d);
        for (int e = 0; e < shape.employees; ++e) {
            if (random.bounded(30) == 0)
                continue;
            const int arrival = 7 * 3600 + 1800 + random.bounded(3600);
            const int lunch = 12 * 3600 + random.bounded(1800);
            const int times[] = {arrival, lunch, lunch + 1800, 16 * 3600 + random.bounded(3600)};
            const qint64 kindOf[] = {kinds.arrival, kinds.breakStart, kinds.breakEnd, kinds.departure};
            for (int k = 0; k < registrationsPerDay; ++k)
                batch.append({ids.at(e), QDateTime(day, QTime(0, 0).addSecs(times[k]), Qt::UTC), kindOf[k], source});
        }
        if (batch.size() >= registrationsPerBatch || d == shape.days() - 1) {
            if (StorageError e = storage.organisation().addRegistrations(batch); !e.ok())
                return e;
            stored += batch.size();
            batch.clear();
            say(QStringLiteral("  %1 of about %2 registrations stored, %3 s")
                    .arg(stored)
                    .arg(total)
                    .arg(clock.elapsed() / 1000));
        }
    }
    return StorageError::none();
}

StorageError build(const QString &location, const Shape &shape)
{
    StorageError error;
    Result<std::unique_ptr<Database>> storageOpened = Database::open(location);
    error = storageOpened.error();
    std::unique_ptr<Database> storage = storageOpened.take();
    if (!storage)
        return error;
    QVector<qint64> departmentIds;
    Kinds kinds;
    if (error = storage->migrate(); error.ok())
        error = addReferenceData(*storage, &departmentIds, &kinds);
    if (error.ok())
        error = addEmployees(*storage, shape, departmentIds);
    if (error.ok())
        error = addRegistrations(*storage, shape, kinds);
    return error;
}

// ---- Engines ----------------------------------------------------------------------------------

QString benchFolder()
{
    const QString folder = qEnvironmentVariable("VORNA_BENCH_DIR", QStringLiteral("/tmp/vorna-bench"));
    QDir().mkpath(folder);
    return folder;
}

// Built under a temporary name and renamed when complete, so an interrupted build is never
// taken for a finished one.
StorageError sqliteDatabase(const Shape &shape, QString *location)
{
    *location = QDir(benchFolder()).filePath(QStringLiteral("presence-%1.db").arg(shape.cacheTag()));
    if (QFile::exists(*location))
        return StorageError::none();
    const QString building = *location + QStringLiteral(".building");
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(building + suffix);
    say(QStringLiteral("Building %1 (once; later runs reuse it)").arg(*location));
    StorageError error = build(building, shape);
    if (error.ok() && !QFile::rename(building, *location))
        error = {StorageError::Internal, QStringLiteral("Cannot rename %1 to %2.").arg(building, *location)};
    return error;
}

class PostgresAdmin
{
public:
    explicit PostgresAdmin(const QString &server)
    {
        QString problem;
        const std::optional<SqlDialect> dialect = postgresDialect(server, &problem);
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-admin"));
        if (dialect)
            dialect->configure(m_db);
        m_ok = dialect && m_db.open();
        m_problem = dialect ? m_db.lastError().text() : problem;
    }
    ~PostgresAdmin()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
    }

    bool ok() const { return m_ok; }
    QString problem() const { return m_problem; }

    bool exists(const QString &database)
    {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = ?"));
        query.addBindValue(database);
        return query.exec() && query.next();
    }

    bool run(const QString &sql)
    {
        QSqlQuery query(m_db);
        if (query.exec(sql))
            return true;
        m_problem = query.lastError().text();
        return false;
    }

private:
    QSqlDatabase m_db;
    bool m_ok = false;
    QString m_problem;
};

bool vacuum(const QString &location, QString *problem)
{
    const std::optional<SqlDialect> dialect = postgresDialect(location, problem);
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-vacuum"));
        if (dialect)
            dialect->configure(db);
        QSqlQuery query(db);
        done = dialect && db.open() && query.exec(QStringLiteral("VACUUM ANALYZE"));
        if (!done)
            *problem = db.isOpen() ? query.lastError().text() : db.lastError().text();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-vacuum"));
    return done;
}

StorageError postgresDatabase(const QString &server, const Shape &shape, QString *location)
{
    const QString name = QStringLiteral("vorna_bench_presence_%1").arg(shape.cacheTag());
    const QString building = name + QStringLiteral("_building");
    QString problem;
    *location = postgresLocationWithDatabase(server, name, &problem);
    PostgresAdmin admin(server);
    if (!admin.ok() || location->isEmpty())
        return {StorageError::Unavailable, QStringLiteral("Cannot reach PostgreSQL at %1: %2").arg(server, admin.problem() + problem)};
    if (admin.exists(name))
        return StorageError::none();
    say(QStringLiteral("Building the PostgreSQL database %1 (once; later runs reuse it)").arg(name));
    if (!admin.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(building))
        || !admin.run(QStringLiteral("CREATE DATABASE %1").arg(building)))
        return {StorageError::Internal, admin.problem()};
    const QString buildingLocation = postgresLocationWithDatabase(server, building, &problem);
    StorageError error = build(buildingLocation, shape);
    // Statistics and the visibility map, as autovacuum would leave them a little later.
    if (error.ok() && !vacuum(buildingLocation, &problem))
        error = {StorageError::Internal, problem};
    if (error.ok() && !admin.run(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(building, name)))
        error = {StorageError::Internal, admin.problem()};
    return error;
}

// ---- Measuring -------------------------------------------------------------------------------

struct Run
{
    double ms = 0;
    int rows = 0;
    int registered = 0;
    qint64 pictureBytes = 0;
};

Run measure(Database &storage, const PresenceQuery &query, StorageError *error)
{
    Run run;
    QElapsedTimer clock;
    clock.start();
    *error = storage.presence().presence(everyone(), query, [&](const PresenceRow &row) {
        ++run.rows;
        run.registered += row.lastActivity.isValid() ? 1 : 0;
        run.pictureBytes += row.picture.size();
    });
    run.ms = clock.nsecsElapsed() / 1e6;
    return run;
}

void printBench(const QString &name, QVector<double> ms, const QString &target)
{
    std::sort(ms.begin(), ms.end());
    const double median = ms.size() % 2 ? ms.at(ms.size() / 2) : (ms.at(ms.size() / 2 - 1) + ms.at(ms.size() / 2)) / 2;
    QString line = QStringLiteral("BENCH %1 median=%2ms min=%3 max=%4")
                       .arg(name)
                       .arg(median, 0, 'f', 1)
                       .arg(ms.first(), 0, 'f', 1)
                       .arg(ms.last(), 0, 'f', 1);
    if (!target.isEmpty())
        line += QStringLiteral(" ratio=%1 target=%2").arg(median / budgetMs, 0, 'f', 2).arg(target);
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QVector<double> measureRuns(Database &storage, const PresenceQuery &query, int runs, StorageError *error)
{
    QVector<double> ms;
    for (int i = 0; i < runs && error->ok(); ++i)
        ms << measure(storage, query, error).ms;
    return ms;
}

void printPlan(Database &storage, const QString &title, const QDateTime &at)
{
    const Result<QStringList> plan = storage.presence().explainPresence(everyone(), at);
    std::printf("PLAN %s\n%s\n", qPrintable(title),
                qPrintable(plan.ok() ? plan->join(QLatin1Char('\n')) : plan.error().message));
    std::fflush(stdout);
}

// Runs each figure `shape.runs` times, after a warm-up run that also learns the digests.
bool benchEngine(const QString &engine, const QString &location, const Shape &shape)
{
    StorageError error;
    Result<std::unique_ptr<Database>> storageOpened = Database::open(location);
    error = storageOpened.error();
    std::unique_ptr<Database> storage = storageOpened.take();
    if (!storage) {
        say(error.message);
        return false;
    }
    const PresenceQuery firstLoad{shape.now(), 1, {}};
    PresenceQuery refresh = firstLoad;
    const Run run = measure(*storage, firstLoad, &error);
    storage->presence().presence(everyone(), firstLoad, [&](const PresenceRow &row) { refresh.knownPictureDigests.insert(row.pictureDigest); });
    PresenceQuery pastRefresh = refresh;
    pastRefresh.at = shape.past();
    measure(*storage, pastRefresh, &error);
    say(QStringLiteral("%1: %2 rows, %3 with a registration, %4 MB of pictures on a first load")
            .arg(engine)
            .arg(run.rows)
            .arg(run.registered)
            .arg(run.pictureBytes / 1e6, 0, 'f', 1));

    const QVector<double> refreshMs = measureRuns(*storage, refresh, shape.runs, &error);
    const QVector<double> firstLoadMs = measureRuns(*storage, firstLoad, shape.runs, &error);
    const QVector<double> pastMs = measureRuns(*storage, pastRefresh, shape.runs, &error);
    if (!error.ok()) {
        say(error.message);
        return false;
    }
    const QString prefix = QStringLiteral("presence_%1_%2").arg(engine, shape.tag());
    const QString budget = QStringLiteral("<=%1ms").arg(budgetMs);
    printBench(prefix + QStringLiteral("_refresh"), refreshMs, budget);
    printBench(prefix + QStringLiteral("_first_load"), firstLoadMs, QString());
    printBench(prefix + QStringLiteral("_past_refresh"), pastMs, budget);
    Database &sql = *storage;
    printPlan(sql, engine + QStringLiteral(" (now)"), shape.now());
    printPlan(sql, engine + QStringLiteral(" (past)"), shape.past());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures the presence query of vorna-service's storage on SQLite and, when VORNA_TEST_PG is "
        "set, on PostgreSQL. Databases are built once and kept (VORNA_BENCH_DIR, default /tmp/vorna-bench)."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("employees"), QStringLiteral("Employees in the organisation."), QStringLiteral("n"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("per-employee"), QStringLiteral("Registrations per employee."), QStringLiteral("n"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Measured runs per figure (at least 5)."), QStringLiteral("n"), QStringLiteral("7")});
    parser.process(app);

    Shape shape;
    shape.employees = parser.value(QStringLiteral("employees")).toInt();
    shape.perEmployee = parser.value(QStringLiteral("per-employee")).toInt();
    shape.runs = parser.value(QStringLiteral("runs")).toInt();
    if (shape.employees < 1 || shape.perEmployee < registrationsPerDay || shape.runs < 5) {
        say(QStringLiteral("Give at least 1 employee, %1 registrations per employee and 5 runs.").arg(registrationsPerDay));
        return 2;
    }

    bool ok = true;
    QString location;
    StorageError error = sqliteDatabase(shape, &location);
    if (error.ok())
        ok = benchEngine(QStringLiteral("sqlite"), location, shape);
    else
        say(error.message);
    ok = ok && error.ok();

    const QString server = qEnvironmentVariable("VORNA_TEST_PG");
    if (server.isEmpty()) {
        std::printf("BENCH-SKIP presence_postgresql: VORNA_TEST_PG is not set, so PostgreSQL was not measured.\n");
        return ok ? 0 : 1;
    }
    error = postgresDatabase(server, shape, &location);
    if (error.ok()) {
        ok = benchEngine(QStringLiteral("postgresql"), location, shape) && ok;
    } else {
        say(error.message);
        ok = false;
    }
    return ok ? 0 : 1;
}
