// init and demo: creating the database and filling it with a believable organisation.

#include "command.h"
#include "demoseeder.h"
#include "passwordhasher.h"
#include "progressprinter.h"

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

// Seeds once, in one transaction with the demo users: a demo stopped part-way (killed, disk
// full) leaves nothing behind, and the next `demo` starts over on an empty database. A database
// that already holds an organisation is left alone and the command still succeeds, so scripts
// may run `demo` on every start. The demo users are added only to a database that demo data
// goes into: a real organisation never gets a known password.
class Demo final : public Command
{
public:
    static constexpr const char *Password = "vorna-demo";

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
        const Result<QVector<Department>> existing = storage.organisation().departments();
        if (!existing)
            return context.fail(existing.error());
        const int departments = existing->size();
        if (departments > 0) {
            context.out() << QStringLiteral("%1 already holds an organisation (%2 departments); "
                                            "nothing to seed.\n").arg(storage.describe()).arg(departments);
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
            const StorageError users = addUsers(tx, storage.accounts(), hash, context);
            return users.ok() ? DemoSeeder(storage.organisation(), storage.calendars())
                                    .seed(tx, options, progress.callback(), &summary)
                              : users;
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

    // A user of that name that exists already keeps its password. Looked up first, as a failed
    // insert would end the transaction on PostgreSQL.
    static StorageError addUsers(Transaction &tx, AccountStore &accounts, const QString &hash, CommandContext &context)
    {
        for (const Role role : {Role::Manager, Role::Viewer}) {
            User user;
            user.name = role == Role::Manager ? QStringLiteral("manager") : QStringLiteral("viewer");
            user.passwordHash = hash;
            user.role = role;
            user.allDepartments = true;
            const Result<User> found = accounts.findUser(user.name);
            if (found) {
                context.out() << QStringLiteral("The user \"%1\" already exists; it keeps its password.\n").arg(user.name);
                continue;
            }
            StorageError error = found.error();
            if (error.code == StorageError::NotFound)
                error = accounts.addUser(tx, user);
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
}

} // namespace vorna::service
