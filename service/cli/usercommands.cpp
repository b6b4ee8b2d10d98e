// user add | passwd | list | remove: the people who may log in to the panel.

#include "cli/command.h"
#include "sessions/passwordhasher.h"
#include "cli/passwordinput.h"

#include <QHash>
#include <QRegularExpression>

namespace vorna::service {

namespace {

const QCommandLineOption PasswordStdin(QStringLiteral("password-stdin"),
    QStringLiteral("Read the password from the first line of standard input instead of asking on the terminal."));
const QCommandLineOption RoleOption(QStringLiteral("role"),
    QStringLiteral("viewer (sees presence and calendars) or manager (may also assign calendars and working days). "
                   "Default: viewer."),
    QStringLiteral("role"), QStringLiteral("viewer"));
const QCommandLineOption DepartmentsOption(QStringLiteral("departments"),
    QStringLiteral("The departments whose employees the user sees, as a comma-separated list of names, or \"all\". "
                   "Default: all."),
    QStringLiteral("list"), QStringLiteral("all"));
const QCommandLineOption DepartmentOption(QStringLiteral("department"),
    QStringLiteral("A department whose employees the user sees; repeat it for several. Takes names with commas."),
    QStringLiteral("name"));
const Command::Argument UserName{QStringLiteral("NAME"), QStringLiteral("The user name, as typed on the login page.")};

QString checkUserName(const QString &name)
{
    if (name.isEmpty() || name.size() > 256 || name.contains(QRegularExpression(QStringLiteral("\\s"))))
        return QStringLiteral("The user name \"%1\" cannot be used. Give 1 to 256 characters without spaces.").arg(name);
    return {};
}

// The password from stdin or the terminal, as its Argon2id hash; empty after a failure,
// which `exitCode` then holds.
QString hashedPassword(const QCommandLineParser &parser, CommandContext &context, int *exitCode)
{
    QByteArray password;
    QString error;
    const bool read = parser.isSet(PasswordStdin) ? PasswordInput::readLine(context.in(), &password, &error)
                                                  : PasswordInput::askTwice(&password, &error);
    if (!read) {
        *exitCode = context.fail(error, ExitFailed);
        return {};
    }
    const QString hash = PasswordHasher().hash(password);
    if (hash.isEmpty())
        *exitCode = context.fail(PasswordHasher::hashFailure());
    return hash;
}

QString noSuchUser(const QString &name)
{
    return QStringLiteral("There is no user named \"%1\". 'vorna-service user list' shows the users.").arg(name);
}

// The tail of a confirmation that names the sessions a change ended, if any.
QString endedSessions(int count)
{
    if (count <= 0)
        return QString();
    return count == 1 ? QStringLiteral(" and ended their open session")
                      : QStringLiteral(" and ended their %1 open sessions").arg(count);
}

QString checkRole(const QCommandLineParser &parser)
{
    const QString role = parser.value(RoleOption);
    if (role != QLatin1String("viewer") && role != QLatin1String("manager"))
        return QStringLiteral("The role must be viewer or manager, not \"%1\".").arg(role);
    return {};
}

// The department names the options give: every --department, and the --departments list
// when it is given or no --department is. Empty for "all".
QStringList departmentNamesGiven(const QCommandLineParser &parser)
{
    QStringList names = parser.values(DepartmentOption);
    if (parser.isSet(DepartmentsOption) || names.isEmpty()) {
        const QString list = parser.value(DepartmentsOption);
        if (list == QLatin1String("all"))
            return names;
        for (const QString &raw : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
            names << raw.trimmed();
    }
    return names;
}

// Sets the user's scope from the options; a failure's exit code, or ExitOk.
int resolveDepartments(const QCommandLineParser &parser, OrganisationStore &organisation, User *user,
                       CommandContext &context)
{
    const QStringList names = departmentNamesGiven(parser);
    user->allDepartments = names.isEmpty();
    user->departmentIds.clear();
    if (names.isEmpty()) {
        if (parser.isSet(DepartmentsOption) && parser.value(DepartmentsOption) != QLatin1String("all"))
            return context.fail(QStringLiteral("Name at least one department, or \"all\"."), ExitUsage);
        return ExitOk;
    }
    const Result<QVector<Department>> departments = organisation.departments();
    if (!departments)
        return context.fail(departments.error());
    QHash<QString, qint64> ids;
    for (const Department &department : *departments)
        ids.insert(department.name, department.id);
    for (const QString &name : names) {
        if (!ids.contains(name)) {
            QStringList known = ids.keys();
            known.sort();
            return context.fail(QStringLiteral("There is no department named \"%1\". The departments are: %2.")
                                    .arg(name, known.isEmpty() ? QStringLiteral("none yet") : known.join(QStringLiteral(", "))));
        }
        user->departmentIds << ids.value(name);
    }
    return ExitOk;
}

// The departments the options name, for confirmations.
QString scopeText(const QCommandLineParser &parser)
{
    const QStringList names = departmentNamesGiven(parser);
    return names.isEmpty() ? QStringLiteral("all") : names.join(QStringLiteral(", "));
}

QString roleName(Role role)
{
    return role == Role::Manager ? QStringLiteral("manager") : QStringLiteral("viewer");
}

QString departmentNames(const User &user, const QHash<qint64, QString> &names)
{
    if (user.allDepartments)
        return QStringLiteral("all departments");
    QStringList list;
    for (qint64 id : user.departmentIds)
        list << names.value(id, QStringLiteral("#%1").arg(id));
    return list.isEmpty() ? QStringLiteral("no departments") : list.join(QStringLiteral(", "));
}

class UserAdd final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("user"), QStringLiteral("add")}; }
    QString summary() const override { return QStringLiteral("Adds a user who may log in to the panel."); }
    QList<Argument> arguments() const override { return {UserName}; }
    QList<QCommandLineOption> options() const override
    {
        return {RoleOption, DepartmentsOption, DepartmentOption, PasswordStdin};
    }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &arguments) const override
    {
        const QString role = checkRole(parser);
        return role.isEmpty() ? checkUserName(arguments.at(0)) : role;
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        User user;
        user.name = arguments.at(0);
        user.role = parser.value(RoleOption) == QLatin1String("manager") ? Role::Manager : Role::Viewer;
        int exitCode = resolveDepartments(parser, database.organisation(), &user, context);
        if (exitCode != ExitOk)
            return exitCode;
        user.passwordHash = hashedPassword(parser, context, &exitCode);
        if (user.passwordHash.isEmpty())
            return exitCode;

        const StorageError error = database.accounts().addUser(user);
        if (error.code == StorageError::AlreadyExists)
            return context.fail(QStringLiteral("There is already a user named \"%1\". Change the password with "
                                               "'vorna-service user passwd %1' or choose another name.").arg(user.name));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Added the %1 \"%2\" (departments: %3).\n")
                             .arg(roleName(user.role), user.name, scopeText(parser));
        return ExitOk;
    }

};

class UserEdit final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("user"), QStringLiteral("edit")}; }
    QString summary() const override
    {
        return QStringLiteral("Changes a user's role or departments; what is not given stays, and so does the password.");
    }
    QList<Argument> arguments() const override { return {UserName}; }
    QList<QCommandLineOption> options() const override { return {RoleOption, DepartmentsOption, DepartmentOption}; }
    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        return parser.isSet(RoleOption) ? checkRole(parser) : QString();
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        Result<User> user = database.accounts().findUser(arguments.at(0));
        if (!user)
            return user.error().code == StorageError::NotFound ? context.fail(noSuchUser(arguments.at(0)))
                                                               : context.fail(user.error());
        if (parser.isSet(RoleOption))
            user->role = parser.value(RoleOption) == QLatin1String("manager") ? Role::Manager : Role::Viewer;
        if (parser.isSet(DepartmentsOption) || parser.isSet(DepartmentOption)) {
            const int exitCode = resolveDepartments(parser, database.organisation(), &*user, context);
            if (exitCode != ExitOk)
                return exitCode;
        }
        const StorageError error = database.accounts().changeUser(*user);
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Changed the user \"%1\": %2 of %3.\n")
                             .arg(user->name, roleName(user->role),
                                  user->allDepartments ? QStringLiteral("all departments") : scopeText(parser));
        return ExitOk;
    }
};

class UserPasswd final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("user"), QStringLiteral("passwd")}; }
    QString summary() const override { return QStringLiteral("Sets a new password for a user."); }
    QList<Argument> arguments() const override { return {UserName}; }
    QList<QCommandLineOption> options() const override { return {PasswordStdin}; }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        AccountStore &accounts = database.accounts();
        const QString name = arguments.at(0);
        const Result<User> found = accounts.findUser(name);
        if (!found)
            return found.error().code == StorageError::NotFound ? context.fail(noSuchUser(name))
                                                                : context.fail(found.error());
        int exitCode = ExitOk;
        const QString hash = hashedPassword(parser, context, &exitCode);
        if (hash.isEmpty())
            return exitCode;
        // Whoever logged in with the old password must not stay logged in: the change ends
        // their sessions in its own transaction.
        const Result<int> ended = accounts.setPasswordHash(name, hash);
        if (!ended)
            return context.fail(ended.error());
        context.out() << QStringLiteral("Changed the password of \"%1\"%2.\n").arg(name, endedSessions(*ended));
        return ExitOk;
    }
};

class UserList final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("user"), QStringLiteral("list")}; }
    QString summary() const override { return QStringLiteral("Lists the users with their roles and departments."); }

    int run(const QCommandLineParser &, const QStringList &, Database &database, CommandContext &context) override
    {
        const Result<QVector<User>> found = database.accounts().users();
        if (!found)
            return context.fail(found.error());
        const Result<QVector<Department>> departments = database.organisation().departments();
        if (!departments)
            return context.fail(departments.error());
        const QVector<User> &users = *found;
        if (users.isEmpty()) {
            context.out() << "No users yet. Add one with 'vorna-service user add NAME --role manager'.\n";
            return ExitOk;
        }
        QHash<qint64, QString> names;
        for (const Department &department : *departments)
            names.insert(department.id, department.name);
        context.out() << QStringLiteral("%1 %2 %3\n").arg(QStringLiteral("NAME"), -24).arg(QStringLiteral("ROLE"), -8)
                             .arg(QStringLiteral("DEPARTMENTS"));
        for (const User &user : users) {
            context.out() << QStringLiteral("%1 %2 %3\n").arg(user.name, -24).arg(roleName(user.role), -8)
                                 .arg(departmentNames(user, names));
        }
        return ExitOk;
    }
};

class UserRemove final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("user"), QStringLiteral("remove")}; }
    QString summary() const override { return QStringLiteral("Removes a user and ends their sessions."); }
    QList<Argument> arguments() const override { return {UserName}; }

    int run(const QCommandLineParser &, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QString name = arguments.at(0);
        const Result<int> ended = database.accounts().removeSessionsOf(name);
        StorageError error = ended.error();
        if (error.ok())
            error = database.accounts().removeUser(name);
        if (error.code == StorageError::NotFound)
            return context.fail(noSuchUser(name));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Removed the user \"%1\"%2.\n").arg(name, endedSessions(*ended));
        return ExitOk;
    }
};

} // namespace

void addUserCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<UserAdd>());
    commands.push_back(std::make_unique<UserEdit>());
    commands.push_back(std::make_unique<UserPasswd>());
    commands.push_back(std::make_unique<UserList>());
    commands.push_back(std::make_unique<UserRemove>());
}

} // namespace vorna::service
