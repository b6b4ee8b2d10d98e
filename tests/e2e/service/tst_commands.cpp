// The built vorna-service executable: its commands, their output and their exit codes, on a
// temporary SQLite database (and on PostgreSQL when VORNA_TEST_PG names a server).

#include "sessions/passwordhasher.h"
#include "support/servicerunner.h"
#include "storage/database.h"
#include "storage/databaselock.h"
#include "sessions/tokens.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <QCryptographicHash>

#include <csignal>
#include <sys/stat.h>

using namespace vorna::service;
using vorna::testing::CommandRun;
using vorna::testing::ServiceRunner;

namespace {

// Whether the process `pid` holds a shared flock() on `path`, as /proc/locks lists it.
bool holdsSharedLock(qint64 pid, const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QRegularExpression line(QStringLiteral("FLOCK +ADVISORY +READ +%1 +[0-9a-f]+:[0-9a-f]+:%2 ")
                                      .arg(pid).arg(qulonglong(info.st_ino)));
    return line.match(QString::fromLatin1(locks.readAll())).hasMatch();
}

// What a file holds and when it last changed, to see that a command left it alone.
QString fingerprint(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable");
    const QFileInfo info(path);
    return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex())
        + QLatin1Char(' ') + QString::number(info.size()) + QLatin1Char(' ')
        + QString::number(info.lastModified().toMSecsSinceEpoch());
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_database;

    CommandRun run(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        return ServiceRunner().run(arguments, input);
    }

    CommandRun runOn(const QString &database, QStringList arguments, const QByteArray &input = QByteArray())
    {
        arguments << QStringLiteral("--database") << database;
        return run(arguments, input);
    }

    CommandRun runHere(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        return runOn(m_database, arguments, input);
    }

    std::unique_ptr<Database> open(const QString &database)
    {
        Result<std::unique_ptr<Database>> opened = Database::open(database);
        if (!opened)
            qWarning("%s", qPrintable(opened.error().message));
        return opened.take();
    }

    // A connection of the test's own, as an sqlite3 shell or another program would hold one.
    static QSqlDatabase connection(const QString &name, const QString &database)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        if (!db.open())
            qWarning("%s", qPrintable(db.lastError().text()));
        return db;
    }

    static int modeOf(const QString &path)
    {
        struct stat info;
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
    }

    // psql takes both conninfo strings and URIs, as the service does.
    static bool psql(const QString &server, const QString &sql)
    {
        QProcess process;
        process.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                               QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), server,
                                               QStringLiteral("-c"), sql});
        const bool done = process.waitForFinished(60000) && process.exitCode() == 0;
        if (!done)
            qWarning("psql: %s", process.readAllStandardError().constData());
        return done;
    }

    static QString withDatabase(const QString &server, const QString &database)
    {
        if (server.startsWith(QLatin1String("postgres"))) {
            QUrl url(server);
            url.setPath(QLatin1Char('/') + database);
            return url.toString();
        }
        // A later keyword wins in a conninfo string.
        return server + QStringLiteral(" dbname=") + database;
    }

    void openSession(const QString &database, const char *user, const QByteArray &token)
    {
        const auto storage = open(database);
        QVERIFY(storage);
        Session session;
        session.tokenHash = tokens::digest(token);
        session.userName = QString::fromLatin1(user);
        const StorageError error = storage->accounts().createSession(session);
        QVERIFY2(error.ok(), qPrintable(error.message));
    }

    // The admin round that both engines must pass: init, users, terminals.
    // A picture file of the given size, PNG-encoded.
    QString pictureFile(const QString &name, int width, int height)
    {
        const QString path = m_dir.filePath(name);
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        return image.save(path, "PNG") ? path : QString();
    }

    // The organisation's verbs on `database`: adds, list formats, picture checks, refused
    // removals, the leave day, and `info`.
    void organisationRound(const QString &database)
    {
        const auto ok = [&](const QStringList &arguments, const QByteArray &input = QByteArray()) {
            const CommandRun r = runOn(database, arguments, input);
            if (r.exitCode != 0)
                qWarning("%s: %s", qPrintable(arguments.join(QLatin1Char(' '))), qPrintable(r.err));
            return r.exitCode == 0 ? r.out : QStringLiteral("failed");
        };
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QVERIFY(ok({"department", "add", "Sales, North"}) != QLatin1String("failed"));
        QVERIFY(ok({"department", "add", "Sales"}) != QLatin1String("failed"));
        QCOMPARE(ok({"department", "list", "--format", "csv"}), QStringLiteral("name\r\nSales\r\n\"Sales, North\"\r\n"));
        QVERIFY(ok({"status", "add", "Present", "--color", "#43A047", "--present", "yes"}) != QLatin1String("failed"));
        CommandRun r = runOn(database, {"status", "add", "Away", "--color", "43A047", "--present", "no"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QLatin1String("#RRGGBB")), qPrintable(r.err));
        QVERIFY(ok({"activity", "add", "Arrival", "--status", "Present"}) != QLatin1String("failed"));
        QVERIFY(ok({"calendar", "add", "Day", "--color", "#112233"}) != QLatin1String("failed"));
        QVERIFY(ok({"workday", "add", "Holiday", "--color", "#FF0000"}) != QLatin1String("failed"));
        const QJsonArray statuses = QJsonDocument::fromJson(ok({"status", "list", "--format", "json"}).toUtf8()).array();
        QCOMPARE(statuses.size(), 1);
        QCOMPARE(statuses.at(0).toObject().value(QLatin1String("color")).toString(), QStringLiteral("#43A047"));
        QCOMPARE(statuses.at(0).toObject().value(QLatin1String("present")).toString(), QStringLiteral("yes"));
        QVERIFY(ok({"activity", "list"}).contains(QRegularExpression(QStringLiteral("^NAME +STATUS\nArrival +Present\n$"))));
        QVERIFY(ok({"workday", "edit", "Holiday", "--color", "#00FF00", "--name", "Public holiday"}) != QLatin1String("failed"));
        QVERIFY(ok({"workday", "list", "--format", "csv"}).contains(QLatin1String("Public holiday,#00FF00")));

        // Pictures are checked as they come: the file is named with what is wrong with it.
        const QStringList add{"employee", "add", "E1", "--last-name", "Ilić", "--first-name", "Ana", "--department",
                              "Sales, North", "--picture"};
        const QString text = m_dir.filePath(QStringLiteral("notes.png"));
        QFile notes(text);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not a picture") > 0);
        notes.close();
        for (const auto &[file, reason] : {std::pair{text, QStringLiteral("not a JPEG or PNG")},
                                           std::pair{pictureFile(QStringLiteral("wide.png"), 2049, 4),
                                                     QStringLiteral("2049 by 4 pixels")}}) {
            r = runOn(database, QStringList(add) << file);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(file) && r.err.contains(reason), qPrintable(r.err));
        }
        QVERIFY(ok(QStringList(add) << pictureFile(QStringLiteral("ana.png"), 64, 64)) != QLatin1String("failed"));
        QVERIFY(ok({"user", "add", "eve", "--department", "Sales, North", "--password-stdin"}, "eve-password\n")
                    .contains(QLatin1String("Sales, North")));

        // What is still referred to stays, and the refusal names what refers to it.
        for (const auto &[arguments, referrer] :
             {std::pair{QStringList{"department", "remove", "Sales, North"}, QStringLiteral("'eve'")},
              std::pair{QStringList{"status", "remove", "Present"}, QStringLiteral("'Arrival'")}}) {
            r = runOn(database, arguments);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(referrer), qPrintable(r.err));
        }
        QVERIFY(ok({"department", "remove", "Sales"}) != QLatin1String("failed"));
        QVERIFY(ok({"employee", "leave", "E1", "--on", "2024-03-10"}) != QLatin1String("failed"));
        QVERIFY(ok({"employee", "list", "--format", "csv"})
                    .contains(QStringLiteral("E1,Ilić,Ana,\"Sales, North\",yes,2024-03-10")));
        const QString info = ok({"info"});
        QVERIFY2(info.contains(QStringLiteral("Schema version: %1").arg(Database::knownSchemaVersion())) && info.contains(QRegularExpression("Employees: +1\n")),
                 qPrintable(info));
        QVERIFY(ok({"employee", "remove", "E1"}) != QLatin1String("failed"));
    }

    void adminRound(const QString &database)
    {
        CommandRun r = runOn(database, {QStringLiteral("init")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("is ready (schema version")), qPrintable(r.out));
        QVERIFY2(r.err.contains(QStringLiteral("migrations: ")), qPrintable(r.err));
        r = runOn(database, {QStringLiteral("init")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(!r.err.contains(QStringLiteral("migrations")), "a current schema reports no migration work");

        r = runOn(database, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("alice"),
                             QStringLiteral("--role"), QStringLiteral("manager"), QStringLiteral("--password-stdin")},
                  "first-password\n");
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.out, QStringLiteral("Added the manager \"alice\" (departments: all).\n"));
        {
            const auto storage = open(database);
            QVERIFY(storage);
            const Result<User> alice = storage->accounts().findUser(QStringLiteral("alice"));
            QVERIFY(alice);
            QCOMPARE(alice->role, Role::Manager);
            QVERIFY(alice->allDepartments);
            QVERIFY(PasswordHasher().verify(alice->passwordHash, "first-password"));
        }

        r = runOn(database, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("alice"),
                             QStringLiteral("--password-stdin")}, "other-password\n");
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("There is already a user named \"alice\"")), qPrintable(r.err));

        openSession(database, "alice", "alice-session");
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("passwd"), QStringLiteral("alice"),
                             QStringLiteral("--password-stdin")}, "second-password\n");
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(r.out, QStringLiteral("Changed the password of \"alice\" and ended their open session.\n"));
        {
            const auto storage = open(database);
            const Result<User> alice = storage->accounts().findUser(QStringLiteral("alice"));
            QVERIFY(alice);
            QVERIFY(PasswordHasher().verify(alice->passwordHash, "second-password"));
            QVERIFY(!PasswordHasher().verify(alice->passwordHash, "first-password"));
            QCOMPARE(storage->accounts().findSession(tokens::digest("alice-session")).error().code,
                     StorageError::NotFound);
        }

        r = runOn(database, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("bob"),
                             QStringLiteral("--password-stdin")}, "bob-password\n");
        QCOMPARE(r.exitCode, 0);
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("list")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("alice +manager +all departments"))), qPrintable(r.out));
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("bob +viewer +all departments"))), qPrintable(r.out));

        openSession(database, "bob", "bob-session-1");
        openSession(database, "bob", "bob-session-2");
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("bob")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("Removed the user \"bob\" and ended their 2 open sessions.\n"));
        QVERIFY(!open(database)->accounts().findSession(tokens::digest("bob-session-1")));
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("bob")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("There is no user named \"bob\"")), qPrintable(r.err));
        QVERIFY(!runOn(database, {QStringLiteral("user"), QStringLiteral("list")}).out.contains(QStringLiteral("bob")));

        r = runOn(database, {QStringLiteral("terminal"), QStringLiteral("add"), QStringLiteral("gate-1")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const QRegularExpressionMatch token = QRegularExpression(QStringLiteral("^([0-9a-f]{64})$"),
                                                                 QRegularExpression::MultilineOption).match(r.out);
        QVERIFY2(token.hasMatch(), qPrintable(r.out));
        {
            const auto storage = open(database);
            const Result<Terminal> terminal = storage->accounts().findTerminal(tokens::digest(token.captured(1).toLatin1()));
            QVERIFY(terminal);
            QCOMPARE(terminal->name, QStringLiteral("gate-1"));
        }
        QCOMPARE(runOn(database, {QStringLiteral("terminal"), QStringLiteral("add"), QStringLiteral("gate-1")}).exitCode, 1);
        r = runOn(database, {QStringLiteral("terminal"), QStringLiteral("list")});
        QVERIFY(r.out.contains(QStringLiteral("gate-1")));
        QVERIFY2(!r.out.contains(token.captured(1)), "the token is shown only when the terminal is added");
        QCOMPARE(runOn(database, {QStringLiteral("terminal"), QStringLiteral("remove"), QStringLiteral("gate-1")}).exitCode, 0);
        r = runOn(database, {QStringLiteral("terminal"), QStringLiteral("remove"), QStringLiteral("gate-1")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QStringLiteral("There is no terminal named \"gate-1\"")));
        QVERIFY(runOn(database, {QStringLiteral("terminal"), QStringLiteral("list")}).out.startsWith(QStringLiteral("No terminals yet.")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(PasswordHasher::initializeSodium());
        QVERIFY(m_dir.isValid());
        m_database = m_dir.filePath(QStringLiteral("vorna.db"));
    }

    void helpIsShownAndSucceeds()
    {
        CommandRun r = run({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        for (const char *command : {"init", "serve", "user add NAME", "user passwd NAME", "user list",
                                    "user remove NAME", "terminal add NAME", "terminal list",
                                    "terminal remove NAME", "demo"})
            QVERIFY2(r.out.contains(QLatin1String(command)), command);
        QVERIFY(r.out.contains(QStringLiteral("Exit codes:")));
        r = run({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains(QStringLiteral("--password-stdin")));
        QVERIFY(r.out.contains(QStringLiteral("--database")));
        r = run({QStringLiteral("serve"), QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        for (const char *option : {"--listen", "--session-idle", "--heartbeat", "--call-timeout", "--stale-days",
                                   "--tls-cert", "--tls-key", "--log-level"})
            QVERIFY2(r.out.contains(QLatin1String(option)), option);
    }

    void badUsageExitsWithTwoAndASentence_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing") << QStringList() << QStringLiteral("Name a command.");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")}
                                         << QStringLiteral("'frobnicate' is not a command of vorna-service.");
        QTest::newRow("group alone") << QStringList{QStringLiteral("user")}
                                     << QStringLiteral("'user' needs one of: add, edit, passwd, list, remove.");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--colour")}
                                        << QStringLiteral("Unknown option 'colour'.");
        QTest::newRow("missing name") << QStringList{QStringLiteral("user"), QStringLiteral("add")}
                                      << QStringLiteral("'user add' expects NAME.");
        QTest::newRow("extra argument") << QStringList{QStringLiteral("init"), QStringLiteral("now")}
                                        << QStringLiteral("'init' expects no arguments.");
        QTest::newRow("bad role") << QStringList{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("x"),
                                                 QStringLiteral("--role"), QStringLiteral("boss")}
                                  << QStringLiteral("The role must be viewer or manager, not \"boss\".");
        QTest::newRow("bad listen") << QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1")}
                                    << QStringLiteral("has no port");
        QTest::newRow("bad duration") << QStringList{QStringLiteral("serve"), QStringLiteral("--session-idle"), QStringLiteral("soon")}
                                      << QStringLiteral("--session-idle takes a duration");
        QTest::newRow("heartbeat too long") << QStringList{"serve", "--heartbeat", "3000000h"}
                                            << QStringLiteral("--heartbeat takes a duration from 1s to 1h, not \"3000000h\".");
        QTest::newRow("call timeout too long") << QStringList{"serve", "--call-timeout", "61m"}
                                               << QStringLiteral("--call-timeout takes a duration from 1s to 1h");
        QTest::newRow("session idle too short") << QStringList{"serve", "--session-idle", "59"}
                                                << QStringLiteral("--session-idle takes a duration from 1m to 720h");
        QTest::newRow("session idle too long") << QStringList{"serve", "--session-idle", "721h"}
                                               << QStringLiteral("--session-idle takes a duration from 1m to 720h");
        QTest::newRow("health interval too long") << QStringList{"serve", "--health-interval", "11m"}
                                                  << QStringLiteral("--health-interval takes a duration from 1s to 10m");
        QTest::newRow("half of TLS") << QStringList{QStringLiteral("serve"), QStringLiteral("--tls-cert"), QStringLiteral("c.pem")}
                                     << QStringLiteral("Give both --tls-cert and --tls-key");
        QTest::newRow("too many employees") << QStringList{QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("100001")}
                                            << QStringLiteral("--employees takes a whole number from 1 to 100000");
        QTest::newRow("no employees") << QStringList{QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("none")}
                                      << QStringLiteral("--employees takes a whole number from 1 to 100000");
    }

    void badUsageExitsWithTwoAndASentence()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        // Bad usage is found before the database is touched: this one does not even exist.
        arguments << QStringLiteral("--database") << m_dir.filePath(QStringLiteral("never-created.db"));
        if (arguments.first() == QLatin1String("--database"))
            arguments.clear();
        const CommandRun r = run(arguments);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("never-created.db"))));
    }

    // "a department", "an activity kind": every command's help, options included.
    void helpTextsUseTheRightArticles()
    {
        const QString overview = run({QStringLiteral("--help")}).out;
        const QString list = overview.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
        const QRegularExpression words(QStringLiteral("^  ((?:[a-z]+ ?)+)"), QRegularExpression::MultilineOption);
        // "a" before a vowel, "an" before a consonant; "an SQLite" is read "an ess-queue-lite".
        const QRegularExpression slip(QStringLiteral("\\b(?:[Aa] (?!user|unique)[aeiouAEIOU]\\w*|[Aa]n (?!SQLite)[^aeiouAEIOU\\W]\\w*)"));
        int commands = 0;
        for (QRegularExpressionMatchIterator it = words.globalMatch(list); it.hasNext(); ++commands) {
            const QStringList command = it.next().captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const CommandRun r = run(QStringList(command) << QStringLiteral("--help"));
            QCOMPARE(r.exitCode, 0);
            const QRegularExpressionMatch found = slip.match(r.out);
            QVERIFY2(!found.hasMatch(), qPrintable(command.join(QLatin1Char(' ')) + QStringLiteral(": ") + found.captured()));
        }
        QVERIFY2(commands > 40, qPrintable(list));
    }

    // Only `init` writes to a file that is not yet a vorna-service database: the other commands
    // refuse it and leave it exactly as it was, with nothing next to it.
    void filesThatAreNotDatabasesAreLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("says");
        QTest::newRow("empty file") << QByteArray() << QString()
                                    << QStringLiteral("is not initialised. Run 'vorna-service init");
        QTest::newRow("text file") << QByteArray("notes, not a database\n") << QString()
                                   << QStringLiteral("cannot be read as an SQLite database");
        QTest::newRow("another program's database") << QByteArray() << QStringLiteral("notes")
                                                    << QStringLiteral("holds tables that are not vorna-service's");
    }

    void filesThatAreNotDatabasesAreLeftAlone()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, table);
        QFETCH(QString, says);
        const QString folder = m_dir.filePath(QStringLiteral("not-ours-%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("file.db"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content) == content.size());
        out.close();
        if (!table.isEmpty()) {
            QSqlDatabase db = connection(QStringLiteral("foreign"), file);
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE TABLE %1 (text TEXT)").arg(table)));
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        }
        const QString before = fingerprint(file);
        for (const QStringList &arguments : {QStringList{"user", "list"}, QStringList{"user", "add", "ana", "--password-stdin"},
                                             QStringList{"serve", "--listen", "127.0.0.1:0"}}) {
            const CommandRun r = runOn(file, arguments, "ana-password\n");
            QCOMPARE(r.exitCode, 3);
            QVERIFY2(r.err.contains(says), qPrintable(r.err));
            QCOMPARE(fingerprint(file), before);
            QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("file.db")});
        }
    }

    void commandsOnAnEmptyDatabaseAskForInit()
    {
        const QString empty = m_dir.filePath(QStringLiteral("empty.db"));
        QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
        for (const QStringList &arguments : {QStringList{QStringLiteral("user"), QStringLiteral("list")},
                                             QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}}) {
            const CommandRun r = runOn(empty, arguments);
            QCOMPARE(r.exitCode, 3);
            QVERIFY2(r.err.contains(QStringLiteral("is not initialised. Run 'vorna-service init --database %1' first.").arg(empty)),
                     qPrintable(r.err));
        }
    }

    // Only init makes a database file, and makes it readable by its owner alone; an existing
    // file keeps its mode.
    void databaseFilesAreMadeOnlyByInitAndPrivately()
    {
        const QString folder = m_dir.filePath(QStringLiteral("nope"));
        const QString missing = folder + QStringLiteral("/y.db");
        for (const QStringList &arguments : {QStringList{QStringLiteral("user"), QStringLiteral("list")},
                                             QStringList{QStringLiteral("demo")},
                                             QStringList{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}}) {
            const CommandRun r = runOn(missing, arguments);
            QCOMPARE(r.exitCode, 3);
            QVERIFY2(r.err.contains(QStringLiteral("The database file %1 does not exist. Run 'vorna-service init --database %1' first.").arg(missing)),
                     qPrintable(r.err));
            QVERIFY2(!QFileInfo::exists(folder), qPrintable(arguments.join(QLatin1Char(' '))));
        }

        QCOMPARE(runOn(missing, {QStringLiteral("init")}).exitCode, 0);
        {
            const auto storage = open(missing); // holds the -wal and -shm files open
            QVERIFY(storage);
            for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
                QCOMPARE(modeOf(missing + suffix), 0600);
        }

        const QString shared = m_dir.filePath(QStringLiteral("shared.db"));
        QVERIFY(QFile(shared).open(QIODevice::WriteOnly));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 0644) == 0);
        QCOMPARE(runOn(shared, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(modeOf(shared), 0644);
    }

    // A command that writes holds the database against `restore` from before it opens it to its
    // end. Without that, a restore that ran meanwhile replaced the file under it and removed the
    // write-ahead log that held the command's rows.
    void restoreIsRefusedWhileACommandWrites()
    {
        const QString database = m_dir.filePath(QStringLiteral("written.db"));
        const QString backup = m_dir.filePath(QStringLiteral("written-backup.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(run({QStringLiteral("backup"), backup, QStringLiteral("--database"), database}).exitCode, 0);

        // `user add` reads the password once the database is open, and waits for it holding the lock.
        QProcess writer;
        writer.start(QStringLiteral(VORNA_SERVICE_BINARY), {"user", "add", "zoran", "--password-stdin", "--database", database});
        QVERIFY(writer.waitForStarted(10000));
        QDeadlineTimer deadline(60000);
        while (!holdsSharedLock(writer.processId(), DatabaseLock::lockFileOf(database)) && !deadline.hasExpired())
            QThread::msleep(20);
        QVERIFY2(!deadline.hasExpired(), writer.readAllStandardError().constData());

        CommandRun r = run({QStringLiteral("restore"), backup, QStringLiteral("--database"), database});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("A running vorna-service uses the database %1").arg(database))
                     && r.err.contains(QLatin1String("let the command finish, then restore")),
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(database + QStringLiteral(".before-restore")));

        writer.write("zoran-password\n");
        writer.closeWriteChannel();
        QVERIFY(writer.waitForFinished(60000));
        QVERIFY2(writer.exitCode() == 0, writer.readAllStandardError().constData());
        QVERIFY(runOn(database, {"user", "list"}).out.contains(QLatin1String("zoran")));
        // Once the command is done, the restore goes ahead.
        r = run({QStringLiteral("restore"), backup, QStringLiteral("--database"), database});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(!runOn(database, {"user", "list"}).out.contains(QLatin1String("zoran")));
    }

    // The other way round: while `restore` holds the database, a command that would open it is
    // refused before it does, and changes nothing.
    void commandsAreRefusedWhileARestoreRuns_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("user add") << QStringList{"user", "add", "ben", "--password-stdin"};
        QTest::newRow("import") << QStringList{"import", QStringLiteral(VORNA_SOURCE_DIR "/docs/example-organisation")};
        QTest::newRow("init") << QStringList{"init"};
        QTest::newRow("serve") << QStringList{"serve", "--listen", "127.0.0.1:0"};
    }

    void commandsAreRefusedWhileARestoreRuns()
    {
        QFETCH(QStringList, arguments);
        const QString database = m_dir.filePath(QStringLiteral("being-restored.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        const QString before = fingerprint(database);
        DatabaseLock restoring;
        QString error;
        QVERIFY2(restoring.acquire(database, DatabaseLock::Mode::Exclusive, &error), qPrintable(error));
        const CommandRun r = runOn(database, arguments, "ben-password\n");
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains(QStringLiteral("The database %1 is being restored right now.").arg(database)),
                 qPrintable(r.err));
        QCOMPARE(fingerprint(database), before);
    }

    // Restore folds the replaced database's write-ahead log into it, then removes the log. A
    // program that still reads an older state of the database keeps the fold from finishing;
    // removing the log then lost the rows it held, while restore said it was done.
    void restoreRefusesWhenTheLogCannotBeFolded()
    {
        const QString database = m_dir.filePath(QStringLiteral("unfolded.db"));
        const QString backup = m_dir.filePath(QStringLiteral("unfolded-backup.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(run({QStringLiteral("backup"), backup, QStringLiteral("--database"), database}).exitCode, 0);
        {
            QSqlDatabase reader = connection(QStringLiteral("reader"), database);
            QSqlDatabase writer = connection(QStringLiteral("writer"), database);
            QVERIFY(reader.transaction());
            QSqlQuery reading(reader);
            QVERIFY(reading.exec(QStringLiteral("SELECT COUNT(*) FROM service_facts")) && reading.next());
            QVERIFY(QSqlQuery(writer).exec(QStringLiteral("INSERT INTO service_facts (name, value) VALUES ('kept', 'yes')")));
            QVERIFY(QFileInfo(database + QStringLiteral("-wal")).size() > 0);

            const CommandRun r = run({QStringLiteral("restore"), backup, QStringLiteral("--database"), database});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(QStringLiteral("The write-ahead log of %1 could not be folded into it").arg(database))
                         && r.err.contains(QLatin1String("the database was left as it was")),
                     qPrintable(r.err));
            QVERIFY(!QFile::exists(database + QStringLiteral(".before-restore")));
            reading.finish();
            reader.rollback();
            reader.close();
            writer.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
        {
            QSqlDatabase check = connection(QStringLiteral("check"), database);
            QSqlQuery kept(check);
            QVERIFY(kept.exec(QStringLiteral("SELECT value FROM service_facts WHERE name = 'kept'")) && kept.next());
            QCOMPARE(kept.value(0).toString(), QStringLiteral("yes"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    // The database holds password hashes: a backup and a restored database are their owner's
    // alone, whatever the umask and whatever mode the backup got on its way.
    void backupsAndRestoredDatabasesArePrivate()
    {
        const mode_t umask = ::umask(022);
        const QString database = m_dir.filePath(QStringLiteral("private.db"));
        const QString backup = m_dir.filePath(QStringLiteral("private-backup.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(run({QStringLiteral("backup"), backup, QStringLiteral("--database"), database}).exitCode, 0);
        QCOMPARE(modeOf(backup), 0600);
        QVERIFY(::chmod(QFile::encodeName(backup).constData(), 0644) == 0);
        for (const QString &target : {database, m_dir.filePath(QStringLiteral("private-new.db"))}) {
            const CommandRun r = run({QStringLiteral("restore"), backup, QStringLiteral("--database"), target});
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            const auto storage = open(target); // holds the -wal and -shm files open
            QVERIFY(storage);
            for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
                QVERIFY2(modeOf(target + suffix) == 0600, qPrintable(target + suffix));
        }
        ::umask(umask);
    }

    void unusableDatabaseExitsWithThree()
    {
        // A directory where the file should be.
        const CommandRun r = runOn(m_dir.path(), {QStringLiteral("init")});
        QCOMPARE(r.exitCode, 3);
        QVERIFY(!r.err.isEmpty());
    }

    void adminCommandsOnSqlite()
    {
        adminRound(m_dir.filePath(QStringLiteral("admin.db")));
        organisationRound(m_dir.filePath(QStringLiteral("organisation.db")));
    }

    // Only `init` changes the schema; every other command refuses an older one. The latest
    // migration keyed pictures by their originals: `init` moves the pictures stored before.
    void olderSchemaIsRefusedUntilInit()
    {
        const QString database = m_dir.filePath(QStringLiteral("older.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(runOn(database, {"department", "add", "Sales"}).exitCode, 0);
        const QString picture = pictureFile(QStringLiteral("older.png"), 1200, 900);
        QCOMPARE(runOn(database, {"employee", "add", "E1", "--last-name", "Ilić", "--first-name", "Ana", "--department",
                                  "Sales", "--picture", picture})
                     .exitCode,
                 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
            db.setDatabaseName(database);
            QVERIFY(db.open());
            // Back to how the previous schema version left it: a picture row per employee.
            for (const char *sql : {"CREATE TABLE employee_pictures (employee_id BIGINT PRIMARY KEY REFERENCES employees (id)"
                                    " ON DELETE CASCADE, bytes BLOB NOT NULL, rendition BLOB, original_digest BLOB)",
                                    "INSERT INTO employee_pictures SELECT e.id, p.original, p.rendition, p.original_digest"
                                    " FROM employees e JOIN pictures p ON p.original_digest = e.original_digest",
                                    "DROP INDEX employees_original_digest",
                                    "ALTER TABLE employees DROP COLUMN original_digest", "DROP TABLE pictures",
                                    "DELETE FROM schema_migrations WHERE version = 13"})
                QVERIFY2(QSqlQuery(db).exec(QLatin1String(sql)), sql);
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("older"));
        for (const QStringList &command : {QStringList{"user", "list"}, QStringList{"info"}, QStringList{"demo"}}) {
            const CommandRun r = runOn(database, command);
            QCOMPARE(r.exitCode, 3);
            QVERIFY2(r.err.contains(QLatin1String("run 'vorna-service init")), qPrintable(r.err));
        }
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        // How pictures move is the storage tests' concern; here, that init moves them.
        const QString exported = m_dir.filePath(QStringLiteral("older-pictures"));
        QCOMPARE(runOn(database, {QStringLiteral("export"), QStringLiteral("pictures"), exported}).exitCode, 0);
        QFile original(picture);
        QFile moved(QDir(exported).filePath(QStringLiteral("E1.png")));
        QVERIFY(original.open(QIODevice::ReadOnly) && moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), original.readAll());
    }

    // The demo's public users never join an organisation the demo did not create.
    void demoRefusesADatabaseThatHoldsData()
    {
        const QString database = m_dir.filePath(QStringLiteral("real.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        QCOMPARE(runOn(database, {"user", "add", "ana", "--role", "manager", "--password-stdin"}, "ana-password\n").exitCode, 0);
        const CommandRun r = runOn(database, {QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("3")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QLatin1String("already holds data")), qPrintable(r.err));
        const auto storage = open(database);
        QCOMPARE(storage->accounts().findUser(QStringLiteral("manager")).error().code, StorageError::NotFound);
        QVERIFY(storage->organisation().departments().value().isEmpty());
    }

    void passwordRulesAreEnforced()
    {
        QCOMPARE(runHere({QStringLiteral("init")}).exitCode, 0);
        CommandRun r = runHere({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("carol"), QStringLiteral("--password-stdin")},
                           "short\n");
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QStringLiteral("at least 8 characters")));
        // Without --password-stdin and without a terminal there is no way to ask.
        r = runHere({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("carol")}, "long-enough\n");
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(QStringLiteral("--password-stdin")));
        QVERIFY(!runHere({QStringLiteral("user"), QStringLiteral("list")}).out.contains(QStringLiteral("carol")));
    }

    void unknownDepartmentIsNamed()
    {
        QCOMPARE(runHere({QStringLiteral("init")}).exitCode, 0);
        const CommandRun r = runHere({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("dave"),
                                  QStringLiteral("--departments"), QStringLiteral("Nowhere"), QStringLiteral("--password-stdin")},
                                 "long-enough\n");
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("There is no department named \"Nowhere\".")), qPrintable(r.err));
    }

    void demoSeedsOnceAndAddsItsUsers()
    {
        const QString database = m_dir.filePath(QStringLiteral("demo.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        CommandRun r = runOn(database, {QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("12")});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        // Not a terminal: progress comes as plain lines.
        QVERIFY2(!r.err.contains(QLatin1Char('\r')), qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("vorna-demo")), qPrintable(r.out));

        const auto storage = open(database);
        QVERIFY(storage);
        for (const char *name : {"manager", "viewer"}) {
            const Result<User> user = storage->accounts().findUser(QString::fromLatin1(name));
            QVERIFY2(user, name);
            QVERIFY(PasswordHasher().verify(user->passwordHash, "vorna-demo"));
        }
        QCOMPARE(storage->accounts().findUser(QStringLiteral("manager"))->role, Role::Manager);
        QCOMPARE(storage->accounts().findUser(QStringLiteral("viewer"))->role, Role::Viewer);
        int rows = 0;
        const Result<User> manager = storage->accounts().findUser(QStringLiteral("manager"));
        PresenceQuery query;
        query.at = QDateTime(QDate::currentDate(), QTime(12, 0), Qt::UTC);
        QVERIFY(storage->presence().presence(*manager, query, [&](const PresenceRow &) { ++rows; }).ok());
        QCOMPARE(rows, 12);

        r = runOn(database, {QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("12")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("already")), qPrintable(r.out));
        rows = 0;
        QVERIFY(storage->presence().presence(*manager, query, [&](const PresenceRow &) { ++rows; }).ok());
        QCOMPARE(rows, 12);

        // Now there are departments to keep a user to.
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("eve"),
                             QStringLiteral("--departments"), QStringLiteral("Sales, IT"), QStringLiteral("--password-stdin")},
                  "eve-password\n");
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const Result<User> eve = storage->accounts().findUser(QStringLiteral("eve"));
        QVERIFY(eve);
        QVERIFY(!eve->allDepartments);
        QCOMPARE(eve->departmentIds.size(), 2);
        r = runOn(database, {QStringLiteral("user"), QStringLiteral("list")});
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("eve +viewer +(Sales, IT|IT, Sales)\n"))), qPrintable(r.out));
    }

    // A demo killed part-way leaves nothing, and the next one seeds the whole organisation.
    void demoKilledPartWayLeavesNothing()
    {
        const QString database = m_dir.filePath(QStringLiteral("killed.db"));
        QCOMPARE(runOn(database, {QStringLiteral("init")}).exitCode, 0);
        const QStringList demo{QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("2000"),
                               QStringLiteral("--database"), database};
        QProcess process;
        process.start(QStringLiteral(VORNA_SERVICE_BINARY), demo);
        QVERIFY(process.waitForStarted(10000));
        QByteArray progress;
        while (!progress.contains("employees: 1000 of 2000") && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            progress += process.readAllStandardError();
        }
        QVERIFY2(process.state() == QProcess::Running, progress.constData());
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(process.readAllStandardOutput().contains("in one transaction"));

        {
            const auto storage = open(database);
            QVERIFY(storage);
            QVERIFY(storage->organisation().departments().value().isEmpty());
            QVERIFY(!storage->accounts().findUser(QStringLiteral("manager")));
        }
        const CommandRun again = run(demo);
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        QVERIFY2(again.out.contains(QStringLiteral("Seeded 2000 employees")), qPrintable(again.out));
        const auto storage = open(database);
        QVERIFY(storage);
        const Result<User> manager = storage->accounts().findUser(QStringLiteral("manager"));
        QVERIFY(manager);
        int rows = 0;
        PresenceQuery query;
        query.at = QDateTime(QDate::currentDate(), QTime(12, 0), Qt::UTC);
        QVERIFY(storage->presence().presence(*manager, query, [&](const PresenceRow &) { ++rows; }).ok());
        QCOMPARE(rows, 2000);
    }

    void serveAnnouncesItsAddressAndStopsOnSigterm()
    {
        QCOMPARE(runHere({QStringLiteral("init")}).exitCode, 0);
        QProcess process;
        process.start(QStringLiteral(VORNA_SERVICE_BINARY),
                      {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                       QStringLiteral("--database"), m_database});
        QVERIFY(process.waitForStarted(10000));
        QVERIFY(process.waitForReadyRead(30000));
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)$")).match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QVERIFY(match.captured(1).toInt() > 0);

        // A second service on the same port is refused with exit code 4.
        const CommandRun second = run({QStringLiteral("serve"), QStringLiteral("--listen"), line.mid(13),
                                   QStringLiteral("--database"), m_database});
        QCOMPARE(second.exitCode, 4);
        QVERIFY2(second.err.contains(QStringLiteral("Cannot listen on %1").arg(line.mid(13))), qPrintable(second.err));

        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString log = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("vorna-service: level=info event=listening address=127.0.0.1:")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("event=signal signal=SIGTERM")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("event=stopped")), qPrintable(log));
    }

    void unreadableTlsFilesExitWithFour()
    {
        QCOMPARE(runHere({QStringLiteral("init")}).exitCode, 0);
        const CommandRun r = runHere({QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--tls-cert"), m_dir.filePath(QStringLiteral("missing.pem")),
                                  QStringLiteral("--tls-key"), m_dir.filePath(QStringLiteral("missing.key"))});
        QCOMPARE(r.exitCode, 4);
        QVERIFY2(r.err.contains(QStringLiteral("Cannot read the TLS certificate file")), qPrintable(r.err));
    }

    void adminCommandsOnPostgres()
    {
        const QString server = qEnvironmentVariable("VORNA_TEST_PG");
        if (server.isEmpty())
            QSKIP("VORNA_TEST_PG is not set; the PostgreSQL half runs where it names a server.");
        const QString name = QStringLiteral("vorna_commands_%1").arg(QCoreApplication::applicationPid());
        QVERIFY(psql(server, QStringLiteral("CREATE DATABASE %1").arg(name)));
        adminRound(withDatabase(server, name));
        QVERIFY(psql(server, QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name)));
        QVERIFY(psql(server, QStringLiteral("CREATE DATABASE %1").arg(name)));
        organisationRound(withDatabase(server, name));
        QVERIFY(psql(server, QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name)));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
