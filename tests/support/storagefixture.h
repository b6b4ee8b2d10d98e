#pragma once
// A fresh, migrated storage for every test function, on the engine of the current global data
// row: an SQLite file in a temporary folder, or a PostgreSQL database that the fixture creates
// on the server named by VORNA_TEST_PG (a libpq conninfo string or URI), empties before each
// test and drops at the end.

#include "storage/database.h"

#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

class StorageFixture
{
public:
    enum Outcome { Ready, Skip, Fail };

    ~StorageFixture();

    // For initTestCase_data(): the column "engine" with one row per engine.
    static void addEngineRows();

    // For init(): opens a fresh database for `engine`, migrated unless told otherwise.
    Outcome setUp(const QString &engine, bool migrate, QString *reason);
    // For cleanup(): closes the storage.
    void tearDown();
    // For cleanupTestCase(): drops the PostgreSQL database.
    void dropDatabase();

    vorna::service::Database &storage() { return *m_storage; }
    // What Database::open was given for this test's database.
    QString location() const { return m_location; }
    bool isPostgres() const { return m_engine == QLatin1String("postgresql"); }
    // The keywords of location() as libpq reads them: host, port, user, dbname ...
    QHash<QString, QString> locationValues() const;
    // This test's PostgreSQL database named with a server that refuses connections first
    // (`deadPort` on 127.0.0.1) and the live one second, target_session_attrs=read-write, as a
    // URI or as keywords; with `password` unless it is empty.
    enum class Form { Uri, Keywords };
    QString behindDeadServer(quint16 deadPort, Form form, const QString &password = QString()) const;
    // A port on 127.0.0.1 that refuses connections (taken, then let go); 0 when none was had.
    static quint16 closedPort();
    // A path in the test's temporary folder.
    QString temporaryPath(const QString &name) const { return m_dir.filePath(name); }
    // Closes the storage and opens the same database anew.
    vorna::service::StorageError reopen();
    // Runs SQL on the test database through a connection of its own, past the storage.
    bool execRaw(const QString &sql, QString *error = nullptr);
    // The first value of the first row of `sql`, run the same way; invalid on failure.
    QVariant scalarRaw(const QString &sql);
    // As if the database's clock moved on by `elapsed`: moves every stored session, login
    // failure, remembered login time and stored picture back by that much.
    bool passTime(std::chrono::milliseconds elapsed, QString *error = nullptr);
    // Takes the database away under the open storage, as a failed disk or server would:
    // SQLite's folder moves aside, PostgreSQL's database is dropped with its connections.
    bool takeDatabaseAway(QString *error);
    // Puts SQLite's folder back, so the temporary folder cleans up; PostgreSQL's database
    // is created anew by the next setUp().
    void bringDatabaseBack();

private:
    bool preparePostgres(QString *reason);
    QSqlDatabase rawConnection(const QString &name, const QString &location);

    QString m_engine;
    QTemporaryDir m_dir;
    QString m_dirAway; // where takeDatabaseAway() moved the SQLite folder
    int m_counter = 0;
    QString m_location;
    QString m_pgDatabase;
    QHash<QString, QString> m_rawLocations; // by connection name
    std::unique_ptr<vorna::service::Database> m_storage;
};

// The slots every storage test class shares: each test runs once per engine, on a fresh
// database that init() prepares and seeds.
class StorageTestCase : public QObject
{
    Q_OBJECT

protected:
    // The test class's own data, added after the fresh database is ready.
    virtual void seed() {}
    // Whether init() migrates the fresh database.
    virtual bool migrated() const { return true; }

    StorageFixture m_fixture;

private slots:
    void initTestCase_data() { StorageFixture::addEngineRows(); }
    void init();
    void cleanup() { m_fixture.tearDown(); }
    void cleanupTestCase() { m_fixture.dropDatabase(); }
};

// A manager who may see every department.
vorna::service::User managerOfAll(const QString &name = QStringLiteral("boss"));
// A civil moment from "yyyy-MM-ddThh:mm:ss", read as the wall clock.
QDateTime civilTime(const QString &iso);

// Use in init(): skips or fails the test when the fixture cannot give it a database.
#define STORAGE_FIXTURE_INIT(fixture, migrate)                                         \
    do {                                                                               \
        QFETCH_GLOBAL(QString, engine);                                                \
        QString reason_;                                                               \
        switch ((fixture).setUp(engine, (migrate), &reason_)) {                        \
        case StorageFixture::Skip:                                                     \
            QSKIP(qPrintable(reason_));                                                \
        case StorageFixture::Fail:                                                     \
            QFAIL(qPrintable(reason_));                                                \
        case StorageFixture::Ready:                                                    \
            break;                                                                     \
        }                                                                              \
    } while (false)

// Opens `location` as the service would; null with `error` set when it cannot.
inline std::unique_ptr<vorna::service::Database> openDatabase(
    const QString &location, vorna::service::StorageError *error,
    vorna::service::OpenMode mode = vorna::service::OpenMode::CreateIfMissing)
{
    vorna::service::Result<std::unique_ptr<vorna::service::Database>> opened =
        vorna::service::Database::open(location, mode);
    *error = opened.error();
    return opened.take();
}

// The error of a write or of a lookup.
inline const vorna::service::StorageError &storageErrorOf(const vorna::service::StorageError &error) { return error; }
template<typename T>
const vorna::service::StorageError &storageErrorOf(const vorna::service::Result<T> &result) { return result.error(); }

// Moves a lookup's value into `out` (when it has one) and gives its error: for tests that
// check the error and the value apart.
template<typename T, typename U>
vorna::service::StorageError takeInto(U &out, vorna::service::Result<T> result)
{
    if (result.ok())
        out = result.take();
    return result.error();
}

// Fails the test with the storage's sentence when `expr` (a StorageError or a Result) is not ok.
#define STORAGE_OK(expr)                                                               \
    do {                                                                               \
        const vorna::service::StorageError error_ = storageErrorOf(expr);              \
        QVERIFY2(error_.ok(), qPrintable(error_.message));                             \
    } while (false)
