#pragma once
// One database of vorna-service: the shared executor, the schema's lifecycle, and the stores
// that read and write it, each for one concern. Parts of the service take only the store
// they need.

#include "storage/accountstore.h"
#include "storage/calendarstore.h"
#include "storage/migrationcatalog.h"
#include "storage/organisationstore.h"
#include "storage/presencestore.h"
#include "storage/sqlexecutor.h"
#include "storage/storage.h"

#include <memory>

namespace vorna::service {

enum class OpenMode {
    CreateIfMissing, // a missing SQLite file is created, readable by its owner only (0600)
    MustExist        // a missing SQLite file is refused with NotFound; nothing is created
};

class Database
{
public:
    // Opens the database named by `location`: a PostgreSQL connection string (starting with
    // "postgresql://", "postgres://" or holding "host=" / "dbname="), otherwise a path to an
    // SQLite file, and checks that it is empty or one of ours. Does not migrate.
    static Result<std::unique_ptr<Database>> open(const QString &location, OpenMode mode = OpenMode::CreateIfMissing);

    explicit Database(const SqlDialect &dialect);
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens the calling thread's connection and checks that the database is empty or one of
    // ours at a schema version this build knows.
    StorageError check();
    // Applies the numbered migrations that are not yet applied, each in its own transaction
    // that holds the migration lock. Progress counts only those (a migration's step in C++
    // reports its own phase in between); a current schema reports nothing.
    StorageError migrate(const Progress &progress = {});
    // The highest migration applied, 0 for an empty database.
    Result<int> schemaVersion();
    // The highest migration this build carries.
    static int knownSchemaVersion();
    // A short description for log lines, e.g. "SQLite /var/lib/vorna/vorna.db".
    QString describe() const { return m_sql.dialect().label; }
    // Threads that hold an open connection now.
    int openConnections() const { return m_sql.openConnections(); }

    // How many records of each kind the database holds, in a fixed order: departments,
    // employees, presence statuses, activity kinds, calendars, working-day kinds,
    // registrations, users, open sessions, terminals.
    Result<QVector<QPair<QString, qint64>>> counts();
    // Whether the database holds anything an organisation or an administrator put there
    // (beyond what migrations create).
    static Result<bool> holdsData(Transaction &tx);
    // Facts the service keeps about its own database, e.g. who seeded it; empty when unknown.
    static Result<QString> fact(Transaction &tx, const QString &name);
    static StorageError setFact(Transaction &tx, const QString &name, const QString &value);

    // Runs `work` in one write transaction, kept only when `work` succeeds; the stores'
    // writers that take the Transaction join it. A process killed part-way leaves nothing of
    // it behind. `doing` completes "Could not ...".
    StorageError write(const QString &doing, const SqlExecutor::Work &work) { return m_sql.write(doing, work); }
    StorageError read(const SqlExecutor::Work &work) { return m_sql.read(work); }

    AccountStore &accounts() { return m_accounts; }
    OrganisationStore &organisation() { return m_organisation; }
    CalendarStore &calendars() { return m_calendars; }
    PresenceStore &presence() { return m_presence; }
    SqlExecutor &executor() { return m_sql; }

private:
    StorageError applyMigration(const Migration &migration, const Progress &progress);
    static Result<int> schemaVersion(Transaction &tx);

    SqlExecutor m_sql;
    AccountStore m_accounts;
    OrganisationStore m_organisation;
    CalendarStore m_calendars;
    PresenceStore m_presence;
};

} // namespace vorna::service
