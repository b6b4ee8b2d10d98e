#pragma once
// One database connection per thread. Qt's connections may be used only by the thread that
// opened them, and the service calls the storage from many worker threads at once. A thread's
// connection opens on its first call and closes when the thread ends or the pool dies,
// whichever comes first. The pool must outlive every call into it.

#include "storage/sqldialect.h"
#include "storage/storage.h"

#include <QSqlDatabase>

#include <memory>

namespace vorna::service {

class ConnectionPool
{
public:
    explicit ConnectionPool(const SqlDialect &dialect);
    ~ConnectionPool();

    ConnectionPool(const ConnectionPool &) = delete;
    ConnectionPool &operator=(const ConnectionPool &) = delete;

    // The calling thread's open connection; on failure `db` stays invalid.
    StorageError connection(QSqlDatabase *db);
    // Closes the calling thread's connection so that the next call opens a new one, after
    // the server went away.
    void discard();
    // How many threads hold an open connection right now.
    int openCount() const;

    class Registry;

private:
    StorageError open(const QString &name, QSqlDatabase *db);
    QString nameForThisThread() const;

    const SqlDialect m_dialect;
    const int m_serial; // tells the connections of two pools in one process apart
    std::shared_ptr<Registry> m_registry;
};

} // namespace vorna::service
