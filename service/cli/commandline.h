#pragma once
// Finds the command that the first words of the command line name, parses the rest with
// QCommandLineParser and runs it. Returns the process exit code (exitcode.h).

#include "cli/command.h"

namespace vorna::service {

class CommandLine
{
public:
    CommandLine(FILE *in = stdin, FILE *out = stdout, FILE *err = stderr);

    int run(const QStringList &arguments);

private:
    Command *find(const QStringList &arguments) const;
    int runCommand(Command &command, const QStringList &arguments);
    QString helpText(const Command &command, const QCommandLineParser &parser) const;
    int usageError(const QString &message, const QString &helpCommand = QString());
    QString unknownCommand(const QStringList &arguments) const;
    QString overview() const;
    // Puts the file's values in front of the command line's own, so that these win.
    bool withConfigFile(const Command &command, const QString &path, QStringList *arguments);
    QStringList configKeys() const;

    CommandList m_commands;
    CommandContext m_context;
};

} // namespace vorna::service
