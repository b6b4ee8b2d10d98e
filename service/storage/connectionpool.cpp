#include "storage/connectionpool.h"

#include <QAtomicInt>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlQuery>
#include <QThread>

namespace vorna::service {

namespace {

QAtomicInt poolSerial;

QString errorText(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

} // namespace

// The names of a pool's open connections. Shared with the threads, which may outlive the
// pool: a thread that ends after the pool died finds its name gone and does nothing.
class ConnectionPool::Registry
{
public:
    void add(const QString &name)
    {
        QMutexLocker lock(&m_mutex);
        m_names.insert(name);
    }

    void close(const QString &name)
    {
        QMutexLocker lock(&m_mutex);
        if (m_names.remove(name))
            QSqlDatabase::removeDatabase(name);
    }

    // Also closes other threads' connections; they must be idle, as the pool is going away.
    void closeAll()
    {
        QMutexLocker lock(&m_mutex);
        for (const QString &name : qAsConst(m_names))
            QSqlDatabase::removeDatabase(name);
        m_names.clear();
    }

    int count() const
    {
        QMutexLocker lock(&m_mutex);
        return m_names.size();
    }

private:
    mutable QMutex m_mutex;
    QSet<QString> m_names;
};

namespace {

// The connections this thread opened, per pool. Destroyed as the thread ends, which closes
// them in the thread that owns them.
struct ThreadConnections
{
    struct Entry
    {
        QString name;
        std::shared_ptr<ConnectionPool::Registry> registry;
        bool lost = false;
    };
    QHash<int, Entry> byPool;

    ~ThreadConnections()
    {
        for (const Entry &entry : qAsConst(byPool))
            entry.registry->close(entry.name);
    }
};

thread_local ThreadConnections t_connections;

} // namespace

ConnectionPool::ConnectionPool(const SqlDialect &dialect)
    : m_dialect(dialect), m_serial(poolSerial.fetchAndAddRelaxed(1)), m_registry(std::make_shared<Registry>())
{
}

ConnectionPool::~ConnectionPool()
{
    m_registry->closeAll();
    t_connections.byPool.remove(m_serial);
}

QString ConnectionPool::nameForThisThread() const
{
    return QStringLiteral("vorna-storage-%1-thread-%2")
        .arg(m_serial)
        .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16);
}

StorageError ConnectionPool::connection(QSqlDatabase *db)
{
    auto entry = t_connections.byPool.find(m_serial);
    if (entry == t_connections.byPool.end())
        entry = t_connections.byPool.insert(m_serial, {nameForThisThread(), m_registry, false});
    if (entry->lost) {
        m_registry->close(entry->name);
        entry->lost = false;
    }
    if (QSqlDatabase::contains(entry->name)) {
        *db = QSqlDatabase::database(entry->name, false);
        if (db->isOpen())
            return StorageError::none();
        // The driver met the server's end outside a statement of ours (freeing a prepared
        // statement as a query went away); Qt would refuse every statement without a reason.
        *db = QSqlDatabase();
        m_registry->close(entry->name);
    }
    // Registered before it opens, so that a pool dying meanwhile closes it too.
    m_registry->add(entry->name);
    const StorageError error = open(entry->name, db);
    if (!error.ok()) {
        *db = QSqlDatabase();
        m_registry->close(entry->name);
    }
    return error;
}

void ConnectionPool::discard()
{
    const auto entry = t_connections.byPool.find(m_serial);
    if (entry != t_connections.byPool.end())
        entry->lost = true;
}

int ConnectionPool::openCount() const
{
    return m_registry->count();
}

StorageError ConnectionPool::open(const QString &name, QSqlDatabase *db)
{
    *db = QSqlDatabase::addDatabase(m_dialect.driver, name);
    m_dialect.configure(*db);
    if (!db->open()) {
        return {StorageError::Unavailable, QStringLiteral("Cannot open the %1 (%2). %3")
                                               .arg(m_dialect.label, errorText(db->lastError()), m_dialect.openAdvice)};
    }
    QSqlQuery query(*db);
    for (const QString &statement : m_dialect.connectionSetup) {
        if (query.exec(statement))
            continue;
        const QSqlError error = query.lastError();
        if (classifyFailure(m_dialect, error) == SqlFailure::NotADatabase)
            return {StorageError::InvalidArgument,
                    QStringLiteral("Cannot open the %1: the file is not a database. Give the path of a "
                                   "vorna-service database, or of a file that does not exist yet.")
                        .arg(m_dialect.label)};
        return {StorageError::Unavailable, QStringLiteral("Cannot prepare the %1 for use (%2). %3")
                                               .arg(m_dialect.label, errorText(error), m_dialect.openAdvice)};
    }
    return StorageError::none();
}

} // namespace vorna::service
