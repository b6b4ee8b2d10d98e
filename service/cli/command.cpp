#include "cli/command.h"

#include "cli/progressprinter.h"
#include "storage/sqldialect.h"
#include "storage/sqlitefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vorna::service {

CommandContext::CommandContext(FILE *in, FILE *out, FILE *err)
    : m_in(in)
    , m_out(out)
    , m_err(err)
    , m_database(defaultDatabase())
{
}

int CommandContext::fail(const QString &message, int code)
{
    m_out.flush();
    m_err << message << '\n';
    m_err.flush();
    return code;
}

int CommandContext::fail(const StorageError &error)
{
    return fail(error.message, error.code == StorageError::Unavailable ? ExitDatabase : ExitFailed);
}

std::unique_ptr<Database> CommandContext::openDatabase(Need need, int *exitCode)
{
    *exitCode = ExitOk;
    if (!isPostgresLocation(m_database) && !guardSqliteFile(need, exitCode))
        return nullptr;
    // Only `init` creates a database; any other command on a wrong path would leave an empty
    // file behind.
    Result<std::unique_ptr<Database>> opened =
        Database::open(m_database, need == Need::Create ? OpenMode::CreateIfMissing : OpenMode::MustExist);
    if (!opened) {
        *exitCode = fail(opened.error().message, ExitDatabase);
        return nullptr;
    }
    std::unique_ptr<Database> storage = opened.take();
    const Result<int> schema = storage->schemaVersion();
    if (!schema) {
        *exitCode = fail(schema.error().message, ExitDatabase);
        return nullptr;
    }
    const int version = *schema;
    if (need == Need::Initialised && version == 0) {
        *exitCode = fail(notInitialised(), ExitDatabase);
        return nullptr;
    }
    // Only `init` changes the schema: a service of a newer version never alters a database
    // that older instances may still be serving, unless the operator asks for it.
    if (need == Need::Initialised && version < Database::knownSchemaVersion()) {
        *exitCode = fail(QStringLiteral("The database %1 has schema version %2, older than the %3 this vorna-service "
                                        "uses. Stop the services that use it, then run 'vorna-service init "
                                        "--database %1' to bring it up to date.")
                             .arg(maskedLocation(m_database)).arg(version).arg(Database::knownSchemaVersion()),
                         ExitDatabase);
        return nullptr;
    }
    if (need != Need::Create)
        return storage;
    ProgressPrinter progress;
    const StorageError error = storage->migrate(progress.callback());
    progress.finish();
    if (!error.ok()) {
        *exitCode = fail(QStringLiteral("Cannot bring the database %1 up to date: %2")
                             .arg(maskedLocation(m_database), error.message),
                         ExitDatabase);
        return nullptr;
    }
    return storage;
}

// Only `init` writes to a file that is not yet a database: SQLite would turn an empty file into
// a database as it switches on its write-ahead log. So any other command reads the file first,
// without changing it. Then the file is locked against `restore` before it is opened: a
// connection opened first could write to a file that a restore has just replaced.
bool CommandContext::guardSqliteFile(Need need, int *exitCode)
{
    const bool creates = need == Need::Create;
    // Database::open says that the file does not exist, and no lock file is left behind.
    if (!creates && !QFileInfo::exists(m_database))
        return true;
    QString error;
    int version = 0;
    if (!creates && !sqlitefiles::readSchemaVersion(m_database, &version, &error)) {
        *exitCode = fail(error, ExitDatabase);
        return false;
    }
    if (!creates && version == 0) {
        *exitCode = fail(notInitialised(), ExitDatabase);
        return false;
    }
    // The lock file lives next to the database, in the folder `init` makes.
    if (creates)
        QDir().mkpath(QFileInfo(m_database).absolutePath());
    if (!m_lock.acquire(m_database, DatabaseLock::Mode::Shared, &error)) {
        *exitCode = fail(error, ExitDatabase);
        return false;
    }
    return true;
}

QString CommandContext::notInitialised() const
{
    return QStringLiteral("The database %1 is not initialised. Run 'vorna-service init --database %1' first.")
        .arg(maskedLocation(m_database));
}

QString CommandContext::defaultDatabase()
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(dataHome).filePath(QStringLiteral("vorna-service/vorna.db"));
}

} // namespace vorna::service
