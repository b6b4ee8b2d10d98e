// terminal add | list | remove: the clocking devices that may register activities.

#include "cli/command.h"
#include "sessions/tokens.h"

namespace vorna::service {

namespace {

const Command::Argument TerminalName{QStringLiteral("NAME"),
                                     QStringLiteral("A name for the device, e.g. \"gate-1\".")};

class TerminalAdd final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("terminal"), QStringLiteral("add")}; }
    QString summary() const override { return QStringLiteral("Registers a clocking terminal and prints its device token once."); }
    QList<Argument> arguments() const override { return {TerminalName}; }

    QString checkUsage(const QCommandLineParser &, const QStringList &arguments) const override
    {
        const QString name = arguments.at(0);
        if (name.isEmpty() || name.size() > 128)
            return QStringLiteral("A terminal name has 1 to 128 characters.");
        return {};
    }

    int run(const QCommandLineParser &, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QByteArray token = tokens::generate();
        Terminal terminal;
        terminal.name = arguments.at(0);
        terminal.tokenHash = tokens::digest(token);
        terminal.createdUtc = QDateTime::currentDateTimeUtc();
        const StorageError error = database.accounts().addTerminal(terminal);
        if (error.code == StorageError::AlreadyExists)
            return context.fail(QStringLiteral("There is already a terminal named \"%1\". Remove it first or "
                                               "choose another name.").arg(terminal.name));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Added the terminal \"%1\". Its device token follows; it is shown only "
                                        "now, so store it on the device. The device sends it in the "
                                        "\"vorna-device\" metadata.\n").arg(terminal.name)
                      << token << '\n';
        return ExitOk;
    }
};

class TerminalList final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("terminal"), QStringLiteral("list")}; }
    QString summary() const override { return QStringLiteral("Lists the registered terminals."); }

    int run(const QCommandLineParser &, const QStringList &, Database &database, CommandContext &context) override
    {
        const Result<QVector<Terminal>> found = database.accounts().terminals();
        if (!found)
            return context.fail(found.error());
        const QVector<Terminal> &terminals = *found;
        if (terminals.isEmpty()) {
            context.out() << "No terminals yet. Register one with 'vorna-service terminal add NAME'.\n";
            return ExitOk;
        }
        context.out() << QStringLiteral("%1 %2\n").arg(QStringLiteral("NAME"), -24).arg(QStringLiteral("ADDED (UTC)"));
        for (const Terminal &terminal : terminals) {
            context.out() << QStringLiteral("%1 %2\n").arg(terminal.name, -24)
                                 .arg(terminal.createdUtc.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        }
        return ExitOk;
    }
};

class TerminalRemove final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("terminal"), QStringLiteral("remove")}; }
    QString summary() const override { return QStringLiteral("Removes a terminal; its token stops working."); }
    QList<Argument> arguments() const override { return {TerminalName}; }

    int run(const QCommandLineParser &, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QString name = arguments.at(0);
        const StorageError error = database.accounts().removeTerminal(name);
        if (error.code == StorageError::NotFound)
            return context.fail(QStringLiteral("There is no terminal named \"%1\". 'vorna-service terminal list' "
                                               "shows the terminals.").arg(name));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Removed the terminal \"%1\".\n").arg(name);
        return ExitOk;
    }
};

} // namespace

void addTerminalCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<TerminalAdd>());
    commands.push_back(std::make_unique<TerminalList>());
    commands.push_back(std::make_unique<TerminalRemove>());
}

} // namespace vorna::service
