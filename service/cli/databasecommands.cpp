// init and demo: creating the database and filling it with a believable organisation.

#include "cli/command.h"
#include "demo/demoseeder.h"
#include "sessions/passwordhasher.h"
#include "cli/progressprinter.h"

namespace vorna::service {

namespace {

class Init final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("init")}; }
    QString summary() const override
    {
        return QStringLiteral("Creates the database, or brings an existing one up to date.");
    }
    CommandContext::Need databaseNeed() const override { return CommandContext::Need::Create; }

    int run(const QCommandLineParser &, const QStringList &, Database &database, CommandContext &context) override
    {
        context.out() << QStringLiteral("%1 is ready (schema version %2).\n")
                             .arg(database.describe()).arg(database.schemaVersion().value());
        return ExitOk;
    }
};

// What an operator asks first about a database: which schema, how much of everything, who is
// logged in and which terminals may register. Named `info`, as `status` manages statuses.
class Info final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("info")}; }
    QString summary() const override
    {
        return QStringLiteral("Shows the schema version, how many records of each kind the database holds, the open "
                              "sessions and the terminals.");
    }

    int run(const QCommandLineParser &, const QStringList &, Database &database, CommandContext &context) override
    {
        const Result<int> version = database.schemaVersion();
        const Result<QVector<QPair<QString, qint64>>> counts = database.counts();
        const Result<QVector<Terminal>> terminals = database.accounts().terminals();
        for (const StorageError &error : {version.error(), counts.error(), terminals.error()}) {
            if (!error.ok())
                return context.fail(error);
        }
        QTextStream &out = context.out();
        out << QStringLiteral("Database: %1\nSchema version: %2\n").arg(database.describe()).arg(*version);
        for (const auto &[kind, count] : *counts) {
            const QString label = kind.left(1).toUpper() + kind.mid(1) + QLatin1Char(':');
            out << QStringLiteral("%1 %2\n").arg(label, -20).arg(count);
        }
        out << QStringLiteral("Terminals:%1\n").arg(terminals->isEmpty() ? QStringLiteral(" none") : QString());
        for (const Terminal &terminal : *terminals)
            out << QStringLiteral("  %1 (added %2 UTC)\n")
                       .arg(terminal.name, terminal.createdUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        return ExitOk;
    }
};

// Seeds once, in one transaction with the demo users: a demo stopped part-way (killed, disk
// full) leaves nothing behind, and the next `demo` starts over on an empty database. Only an
// empty database is seeded, so the demo users with their public password never join an
// organisation the demo did not create. A database the demo seeded before is left alone and
// the command still succeeds, so scripts may run `demo` on every start.
class Demo final : public Command
{
public:
    static constexpr const char *Password = "vorna-demo";
    static constexpr const char *SeededBy = "seeded_by";

    QStringList words() const override { return {QStringLiteral("demo")}; }
    QString summary() const override
    {
        return QStringLiteral("Fills an empty database with a demo organisation and the users manager and viewer.");
    }
    QList<QCommandLineOption> options() const override { return {m_employees, m_seed}; }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        DemoOptions options;
        return readOptions(parser, &options);
    }

    int run(const QCommandLineParser &parser, const QStringList &, Database &storage, CommandContext &context) override
    {
        Result<QString> seededBy = QString();
        const StorageError read = storage.read([&](Transaction &tx) {
            seededBy = Database::fact(tx, QLatin1String(SeededBy));
            return seededBy.error();
        });
        if (!read.ok())
            return context.fail(read);
        if (*seededBy == QLatin1String("demo")) {
            context.out() << QStringLiteral("%1 already holds the demo organisation; nothing to seed.\n")
                                 .arg(storage.describe());
            return ExitOk;
        }
        const QString hash = PasswordHasher().hash(Password);
        if (hash.isEmpty())
            return context.fail(PasswordHasher::hashFailure());

        DemoOptions options;
        readOptions(parser, &options);
        context.out() << QStringLiteral("Seeding in one transaction: should it stop part-way, nothing is kept "
                                        "and 'demo' can simply run again.\n");
        context.out().flush();
        ProgressPrinter progress;
        DemoSummary summary;
        const StorageError error = storage.write(QStringLiteral("seed the demo organisation"), [&](Transaction &tx) {
            // Checked in the seeding transaction, so nothing can slip in between.
            const Result<bool> holdsData = Database::holdsData(tx);
            if (!holdsData)
                return holdsData.error();
            if (*holdsData)
                return StorageError{StorageError::AlreadyExists,
                                    QStringLiteral("%1 already holds data (see 'vorna-service info'); the demo fills only "
                                                   "an empty database, so that its users with their public password "
                                                   "never join a real organisation. Give a new database.")
                                        .arg(storage.describe())};
            StorageError failed = DemoSeeder(storage.organisation(), storage.calendars())
                                      .seed(tx, options, progress.callback(), &summary);
            if (failed.ok())
                failed = addUsers(tx, storage.accounts(), hash);
            return failed.ok() ? Database::setFact(tx, QLatin1String(SeededBy), QStringLiteral("demo")) : failed;
        });
        progress.finish();
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Seeded %1 employees in %2 departments with %3 registrations into %4.\n"
                                        "Log in as \"manager\" or \"viewer\" with the password \"%5\".\n")
                             .arg(summary.employees).arg(summary.departments).arg(summary.registrations)
                             .arg(storage.describe(), QLatin1String(Password));
        return ExitOk;
    }

private:
    QString readOptions(const QCommandLineParser &parser, DemoOptions *options) const
    {
        bool number = false;
        options->employees = parser.value(m_employees).toInt(&number);
        if (!number || options->employees < 1 || options->employees > DemoPlan::maxEmployees)
            return QStringLiteral("--employees takes a whole number from 1 to %1.").arg(DemoPlan::maxEmployees);
        options->seed = parser.value(m_seed).toUInt(&number);
        if (!number)
            return QStringLiteral("--seed takes a whole number from 0 to 4294967295.");
        return DemoPlan::checkOptions(*options);
    }

    static StorageError addUsers(Transaction &tx, AccountStore &accounts, const QString &hash)
    {
        for (const Role role : {Role::Manager, Role::Viewer}) {
            User user;
            user.name = role == Role::Manager ? QStringLiteral("manager") : QStringLiteral("viewer");
            user.passwordHash = hash;
            user.role = role;
            user.allDepartments = true;
            const StorageError error = accounts.addUser(tx, user);
            if (!error.ok())
                return error;
        }
        return StorageError::none();
    }

    const QCommandLineOption m_employees{QStringLiteral("employees"),
        QStringLiteral("How many employees to make, 1 to 100000. Default: 200."), QStringLiteral("count"),
        QStringLiteral("200")};
    const QCommandLineOption m_seed{QStringLiteral("seed"),
        QStringLiteral("The same seed makes the same organisation. Default: 1."), QStringLiteral("number"),
        QStringLiteral("1")};
};

} // namespace

void addDatabaseCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<Init>());
    commands.push_back(std::make_unique<Demo>());
    commands.push_back(std::make_unique<Info>());
}

} // namespace vorna::service
