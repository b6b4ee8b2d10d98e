#include "support/storagefixture.h"

#include "storage/sqldialect.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QUrl>

#include <libpq-fe.h>

using namespace vorna::service;

namespace {

const char *pgVariable = "VORNA_TEST_PG";

QString postgresServer()
{
    return qEnvironmentVariable(pgVariable);
}

} // namespace

StorageFixture::~StorageFixture()
{
    dropDatabase();
}

void StorageFixture::addEngineRows()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

StorageFixture::Outcome StorageFixture::setUp(const QString &engine, bool migrate, QString *reason)
{
    m_engine = engine;
    m_storage.reset();
    if (isPostgres()) {
        if (postgresServer().isEmpty()) {
            *reason = QStringLiteral("PostgreSQL half skipped: set %1 to a server where the user may create databases.")
                          .arg(QLatin1String(pgVariable));
            return Skip;
        }
        if (!preparePostgres(reason))
            return Fail;
    } else {
        m_location = m_dir.filePath(QStringLiteral("test-%1.db").arg(++m_counter));
    }
    Result<std::unique_ptr<Database>> opened = Database::open(m_location);
    if (!opened) {
        *reason = opened.error().message;
        return Fail;
    }
    m_storage = opened.take();
    StorageError error;
    if (migrate)
        error = m_storage->migrate();
    *reason = error.message;
    return error.ok() ? Ready : Fail;
}

void StorageFixture::tearDown()
{
    m_storage.reset();
}

StorageError StorageFixture::reopen()
{
    m_storage.reset();
    Result<std::unique_ptr<Database>> opened = Database::open(m_location);
    m_storage = opened.take();
    const StorageError error = opened.error();
    return error;
}

// One database per test program, emptied before each test: creating a database per test
// costs a checkpoint on the server each time.
bool StorageFixture::preparePostgres(QString *reason)
{
    if (m_pgDatabase.isEmpty()) {
        const QString name = QStringLiteral("vorna_test_%1_%2")
                                 .arg(QCoreApplication::applicationName().toLower().remove(QRegularExpression("[^a-z0-9_]")))
                                 .arg(QCoreApplication::applicationPid());
        QSqlDatabase admin = rawConnection(QStringLiteral("vorna-test-admin"), postgresServer());
        QSqlQuery query(admin);
        if (!admin.isOpen() || !query.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name))
            || !query.exec(QStringLiteral("CREATE DATABASE %1").arg(name))) {
            *reason = QStringLiteral("Cannot create a test database on %1: %2")
                          .arg(postgresServer(), admin.isOpen() ? query.lastError().text() : admin.lastError().text());
            return false;
        }
        m_pgDatabase = name;
    }
    m_location = postgresLocationWithDatabase(postgresServer(), m_pgDatabase, reason);
    return !m_location.isEmpty() && execRaw(QStringLiteral("DROP SCHEMA public CASCADE"), reason)
        && execRaw(QStringLiteral("CREATE SCHEMA public"), reason);
}

void StorageFixture::dropDatabase()
{
    m_storage.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("vorna-test-raw"));
    m_rawLocations.clear();
    if (m_pgDatabase.isEmpty())
        return;
    {
        QSqlDatabase admin = rawConnection(QStringLiteral("vorna-test-admin"), postgresServer());
        QSqlQuery query(admin);
        if (!query.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgDatabase)))
            qWarning("Could not drop the test database %s: %s", qPrintable(m_pgDatabase),
                     qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("vorna-test-admin"));
    m_pgDatabase.clear();
}

bool StorageFixture::execRaw(const QString &sql, QString *error)
{
    QSqlDatabase db = rawConnection(QStringLiteral("vorna-test-raw"), m_location);
    QSqlQuery query(db);
    if (db.isOpen() && query.exec(sql))
        return true;
    if (error)
        *error = QStringLiteral("%1 failed: %2").arg(sql, db.isOpen() ? query.lastError().text() : db.lastError().text());
    return false;
}

bool StorageFixture::passTime(std::chrono::milliseconds elapsed, QString *error)
{
    const qint64 ms = elapsed.count();
    const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    return execRaw(QStringLiteral("UPDATE sessions SET created_utc = created_utc - %1, last_seen_utc = last_seen_utc - %1")
                       .arg(seconds),
                   error)
        && execRaw(QStringLiteral("UPDATE login_attempts SET last_failure_ms = last_failure_ms - %1,"
                                  " blocked_until_ms = blocked_until_ms - %1")
                       .arg(ms),
                   error)
        && execRaw(QStringLiteral("UPDATE trusted_logins SET last_login_ms = last_login_ms - %1").arg(ms), error)
        && execRaw(QStringLiteral("UPDATE pictures SET stored_utc = stored_utc - %1").arg(seconds), error);
}

QVariant StorageFixture::scalarRaw(const QString &sql)
{
    QSqlQuery query(rawConnection(QStringLiteral("vorna-test-raw"), m_location));
    if (!query.exec(sql) || !query.next()) {
        qWarning("%s failed: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        return {};
    }
    return query.value(0);
}

bool StorageFixture::takeDatabaseAway(QString *error)
{
    QSqlDatabase::removeDatabase(QStringLiteral("vorna-test-raw"));
    m_rawLocations.remove(QStringLiteral("vorna-test-raw"));
    if (!isPostgres()) {
        m_dirAway = m_dir.path() + QStringLiteral("-away");
        if (QDir().rename(m_dir.path(), m_dirAway))
            return true;
        *error = QStringLiteral("Cannot move %1 aside.").arg(m_dir.path());
        m_dirAway.clear();
        return false;
    }
    bool dropped = false;
    {
        QSqlDatabase admin = rawConnection(QStringLiteral("vorna-test-admin"), postgresServer());
        QSqlQuery query(admin);
        dropped = query.exec(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_pgDatabase));
        if (!dropped)
            *error = query.lastError().text();
    }
    if (dropped)
        m_pgDatabase.clear();
    return dropped;
}

void StorageFixture::bringDatabaseBack()
{
    if (!m_dirAway.isEmpty() && !QDir().rename(m_dirAway, m_dir.path()))
        qWarning("Cannot move %s back to %s.", qPrintable(m_dirAway), qPrintable(m_dir.path()));
    m_dirAway.clear();
}

// A plain connection configured the way the storage would configure it.
QSqlDatabase StorageFixture::rawConnection(const QString &name, const QString &location)
{
    if (QSqlDatabase::contains(name)) {
        if (m_rawLocations.value(name) == location)
            return QSqlDatabase::database(name);
        QSqlDatabase::removeDatabase(name);
    }
    m_rawLocations.insert(name, location);
    QString problem;
    const std::optional<SqlDialect> dialect =
        isPostgresLocation(location) ? postgresDialect(location, &problem) : sqliteDialect(location);
    if (!dialect)
        return {};
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect->driver, name);
    dialect->configure(db);
    if (db.open()) {
        QSqlQuery setup(db);
        for (const QString &statement : dialect->connectionSetup)
            setup.exec(statement);
    }
    return db;
}

QHash<QString, QString> StorageFixture::locationValues() const
{
    QHash<QString, QString> values;
    PQconninfoOption *options = PQconninfoParse(m_location.toUtf8().constData(), nullptr);
    for (PQconninfoOption *option = options; option && option->keyword; ++option) {
        if (option->val)
            values.insert(QString::fromLatin1(option->keyword), QString::fromUtf8(option->val));
    }
    PQconninfoFree(options);
    return values;
}

QString StorageFixture::behindDeadServer(quint16 deadPort, Form form, const QString &password) const
{
    const QHash<QString, QString> given = locationValues();
    const QString live = given.value(QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QString port = given.value(QStringLiteral("port"), QStringLiteral("5432"));
    const QString user = given.value(QStringLiteral("user"));
    const QString database = given.value(QStringLiteral("dbname"));
    // Joined, not arg()-ed: a percent-encoded piece may read like a place marker.
    if (form == Form::Uri) {
        const QString secret =
            password.isEmpty() ? QString() : QLatin1Char(':') + QString::fromUtf8(QUrl::toPercentEncoding(password));
        return QStringLiteral("postgresql://") + QString::fromUtf8(QUrl::toPercentEncoding(user)) + secret
            + QStringLiteral("@127.0.0.1:%1,%2:%3/%4?target_session_attrs=read-write").arg(deadPort).arg(live, port, database);
    }
    QString quoted = password;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QStringLiteral("host=127.0.0.1,%1 port=%2,%3 user='%4' dbname='%5' target_session_attrs=read-write")
               .arg(live)
               .arg(deadPort)
               .arg(port, user, database)
        + (password.isEmpty() ? QString() : QStringLiteral(" password='") + quoted + QLatin1Char('\''));
}

quint16 StorageFixture::closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void StorageTestCase::init()
{
    STORAGE_FIXTURE_INIT(m_fixture, migrated());
    seed();
}

User managerOfAll(const QString &name)
{
    User user;
    user.name = name;
    user.role = Role::Manager;
    user.allDepartments = true;
    return user;
}

QDateTime civilTime(const QString &iso)
{
    const QDateTime parsed = QDateTime::fromString(iso, Qt::ISODate);
    return QDateTime(parsed.date(), parsed.time(), Qt::UTC);
}
