#include "cli/commandline.h"

#include "cli/configfile.h"

#include <QCoreApplication>

namespace vorna::service {

namespace {

const QString Program = QStringLiteral("vorna-service");

bool isHelp(const QString &word)
{
    return word == QLatin1String("--help") || word == QLatin1String("-h") || word == QLatin1String("help");
}

QString argumentSyntax(const Command &command)
{
    QStringList names;
    for (const Command::Argument &argument : command.arguments())
        names << argument.name;
    return names.join(QLatin1Char(' '));
}

} // namespace

CommandLine::CommandLine(FILE *in, FILE *out, FILE *err)
    : m_context(in, out, err)
{
    addDatabaseCommands(m_commands);
    addServeCommand(m_commands);
    addUserCommands(m_commands);
    addTerminalCommands(m_commands);
    addHealthCommand(m_commands);
    addBackupCommands(m_commands);
    addOrganisationCommands(m_commands);
    addEmployeeCommands(m_commands);
    addImportCommand(m_commands);
    addExportCommands(m_commands);
}

int CommandLine::run(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first.isEmpty())
        return usageError(QStringLiteral("Name a command.\n\n") + overview());
    if (isHelp(first)) {
        m_context.out() << overview();
        return ExitOk;
    }
    if (first == QLatin1String("--version")) {
        m_context.out() << Program << ' ' << QCoreApplication::applicationVersion() << '\n';
        return ExitOk;
    }
    Command *command = find(arguments);
    if (!command)
        return usageError(unknownCommand(arguments));
    return runCommand(*command, arguments);
}

Command *CommandLine::find(const QStringList &arguments) const
{
    for (const std::unique_ptr<Command> &command : m_commands) {
        const QStringList words = command->words();
        if (arguments.mid(1, words.size()) == words)
            return command.get();
    }
    return nullptr;
}

int CommandLine::runCommand(Command &command, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(command.summary());
    for (const Command::Argument &argument : command.arguments())
        parser.addPositionalArgument(argument.name, argument.description);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    const QCommandLineOption database(QStringLiteral("database"),
        QStringLiteral("An SQLite file, or a PostgreSQL connection string (postgresql://... or "
                       "\"host=... dbname=...\"). Default: %1.").arg(CommandContext::defaultDatabase()),
        QStringLiteral("location"));
    parser.addOption(database);
    const QCommandLineOption config(QStringLiteral("config"),
        QStringLiteral("Reads options from FILE (key = value, e.g. /etc/vorna-service/service.conf); "
                       "the command line overrides them."),
        QStringLiteral("file"));
    parser.addOption(config);
    parser.addOptions(command.options());

    if (!parser.parse(arguments))
        return usageError(parser.errorText() + QLatin1Char('.'), command.name());
    if (parser.isSet(config)) {
        QStringList merged = arguments;
        if (!withConfigFile(command, parser.value(config), &merged))
            return ExitUsage;
        if (!parser.parse(merged))
            return usageError(parser.errorText() + QLatin1Char('.'), command.name());
    }
    if (parser.isSet(help)) {
        m_context.out() << helpText(command, parser);
        return ExitOk;
    }
    // The command words come first among the positional values.
    const QStringList values = parser.positionalArguments().mid(command.words().size());
    if (values.size() != command.arguments().size()) {
        const QString expected = command.arguments().isEmpty() ? QStringLiteral("no arguments")
                                                                : argumentSyntax(command);
        return usageError(QStringLiteral("'%1' expects %2.").arg(command.name(), expected), command.name());
    }
    const QString misuse = command.checkUsage(parser, values);
    if (!misuse.isEmpty())
        return usageError(misuse, command.name());
    if (parser.isSet(database))
        m_context.setDatabase(parser.value(database));
    if (command.databaseNeed() == CommandContext::Need::None)
        return static_cast<StandaloneCommand &>(command).runAlone(parser, values, m_context);

    int exitCode = ExitOk;
    const std::unique_ptr<Database> storage = m_context.openDatabase(command.databaseNeed(), &exitCode);
    if (!storage)
        return exitCode;
    return command.run(parser, values, *storage, m_context);
}

QStringList CommandLine::configKeys() const
{
    QStringList keys{QStringLiteral("database")};
    for (const std::unique_ptr<Command> &command : m_commands) {
        if (command->name() != QLatin1String("serve"))
            continue;
        for (const QCommandLineOption &option : command->options())
            keys << option.names().constFirst();
    }
    return keys;
}

bool CommandLine::withConfigFile(const Command &command, const QString &path, QStringList *arguments)
{
    QVector<ConfigEntry> entries;
    QString error;
    if (!ConfigFile::read(path, configKeys(), &entries, &error)) {
        m_context.fail(error, ExitUsage);
        return false;
    }
    QStringList ownKeys{QStringLiteral("database")};
    for (const QCommandLineOption &option : command.options())
        ownKeys << option.names();
    // QCommandLineParser keeps the last of repeated values, so the command line's own come after.
    QStringList fromFile;
    for (const ConfigEntry &entry : qAsConst(entries)) {
        if (ownKeys.contains(entry.key))
            fromFile << QStringLiteral("--%1=%2").arg(entry.key, entry.value);
    }
    for (int i = fromFile.size() - 1; i >= 0; --i)
        arguments->insert(1, fromFile.at(i));
    return true;
}

QString CommandLine::helpText(const Command &command, const QCommandLineParser &parser) const
{
    // Qt's usage line names the executable's full path and cannot show the command words, so
    // ours replaces it; the option and argument tables are Qt's.
    const QString table = parser.helpText();
    const int options = table.indexOf(QLatin1String("Options:"));
    const QString syntax = (command.name() + QLatin1Char(' ') + argumentSyntax(command)).trimmed();
    return QStringLiteral("Usage: %1 %2 [options]\n%3\n\n").arg(Program, syntax, command.summary())
        + table.mid(options);
}

int CommandLine::usageError(const QString &message, const QString &helpCommand)
{
    QString text = message;
    if (!helpCommand.isEmpty())
        text += QStringLiteral("\nRun '%1 %2 --help' to see its arguments and options.").arg(Program, helpCommand);
    return m_context.fail(text.trimmed(), ExitUsage);
}

QString CommandLine::unknownCommand(const QStringList &arguments) const
{
    const QString group = arguments.value(1);
    QStringList subcommands;
    for (const std::unique_ptr<Command> &command : m_commands) {
        if (command->words().size() > 1 && command->words().constFirst() == group)
            subcommands << command->words().constLast();
    }
    if (!subcommands.isEmpty())
        return QStringLiteral("'%1' needs one of: %2. Run '%3 %1 SUBCOMMAND --help' for more.")
            .arg(group, subcommands.join(QStringLiteral(", ")), Program);
    return QStringLiteral("'%1' is not a command of %2.\n\n").arg(group, Program) + overview();
}

QString CommandLine::overview() const
{
    QString text;
    QTextStream stream(&text);
    stream << "Usage: " << Program << " COMMAND [ARGUMENTS] [OPTIONS]\n\n"
           << "The attendance service that VornaPanel connects to, and its admin commands.\n\n"
           << "Commands:\n";
    for (const std::unique_ptr<Command> &command : m_commands) {
        const QString syntax = (command->name() + QLatin1Char(' ') + argumentSyntax(*command)).trimmed();
        stream << "  " << syntax.leftJustified(22) << ' ' << command->summary() << '\n';
    }
    stream << "\nRun '" << Program << " COMMAND --help' for the options of one command.\n"
           << "Exit codes: 0 done, 1 failed, 2 bad usage, 3 database not usable, 4 cannot listen.\n";
    stream.flush();
    return text;
}

} // namespace vorna::service
