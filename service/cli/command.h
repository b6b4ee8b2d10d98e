#pragma once
// The admin commands of vorna-service. Each command names its words ("user add"), its
// positional arguments and its options; CommandLine parses the command line with
// QCommandLineParser, answers --help and bad usage, and runs the command.

#include "cli/exitcode.h"
#include "storage/database.h"
#include "storage/databaselock.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <vector>

namespace vorna::service {

// What a running command may use: its output streams, its input, and the database.
class CommandContext
{
public:
    CommandContext(FILE *in, FILE *out, FILE *err);

    QTextStream &out() { return m_out; }
    FILE *in() const { return m_in; }

    void setDatabase(const QString &location) { m_database = location; }
    QString database() const { return m_database; }

    // Prints `message` on stderr and returns `code`, so a command can `return fail(...)`.
    int fail(const QString &message, int code = ExitFailed);
    // The same for a storage failure: ExitDatabase when the database is unreachable.
    int fail(const StorageError &error);

    // `None`: the command opens no database through the storage (health, backup, restore).
    enum class Need { Create, Initialised, None };
    // Opens the database. `Create` applies pending migrations (with progress); `Initialised`
    // refuses an empty database or one whose schema is older than this build's, with a hint
    // to run `init`. An SQLite database stays locked against `restore` for as long as the
    // context lives. Null on failure, with the exit code set.
    std::unique_ptr<Database> openDatabase(Need need, int *exitCode);

    // $XDG_DATA_HOME (or ~/.local/share) + /vorna-service/vorna.db
    static QString defaultDatabase();

private:
    bool guardSqliteFile(Need need, int *exitCode);
    QString notInitialised() const;

    FILE *m_in;
    QTextStream m_out;
    QTextStream m_err;
    QString m_database;
    DatabaseLock m_lock;
};

class Command
{
public:
    struct Argument
    {
        QString name;
        QString description;
    };

    virtual ~Command() = default;

    // The command words, e.g. {"user", "add"}.
    virtual QStringList words() const = 0;
    virtual QString summary() const = 0;
    virtual QList<Argument> arguments() const { return {}; }
    // Options of its own; --help and --database are added by CommandLine.
    virtual QList<QCommandLineOption> options() const { return {}; }
    // A sentence when the values make no sense (exit code 2), checked before the database opens.
    virtual QString checkUsage(const QCommandLineParser &, const QStringList &) const { return {}; }
    virtual CommandContext::Need databaseNeed() const { return CommandContext::Need::Initialised; }
    // `arguments` are the positional values, already counted; `storage` is open and migrated.
    virtual int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
                    CommandContext &context) = 0;

    QString name() const { return words().join(QLatin1Char(' ')); }
};

// A command that works without the storage: CommandLine calls runAlone() instead of run().
class StandaloneCommand : public Command
{
public:
    CommandContext::Need databaseNeed() const final { return CommandContext::Need::None; }
    virtual int runAlone(const QCommandLineParser &parser, const QStringList &arguments, CommandContext &context) = 0;

private:
    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &, CommandContext &context) final
    {
        return runAlone(parser, arguments, context);
    }
};

using CommandList = std::vector<std::unique_ptr<Command>>;

void addDatabaseCommands(CommandList &commands);
void addUserCommands(CommandList &commands);
void addTerminalCommands(CommandList &commands);
void addServeCommand(CommandList &commands);
void addHealthCommand(CommandList &commands);
void addBackupCommands(CommandList &commands);
void addOrganisationCommands(CommandList &commands);
void addEmployeeCommands(CommandList &commands);
void addImportCommand(CommandList &commands);
void addExportCommands(CommandList &commands);

} // namespace vorna::service
