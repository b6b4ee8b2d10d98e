// employee add | edit | list | leave | remove: the people whose presence the panel shows.

#include "cli/command.h"
#include "transfer/picturecheck.h"
#include "transfer/rendition.h"
#include "cli/tableoutput.h"

namespace vorna::service {

namespace {

using Kind = OrganisationStore::Kind;

const Command::Argument EmployeeId{QStringLiteral("ID"), QStringLiteral("The employee's id, as terminals send it.")};
const QCommandLineOption LastName(QStringLiteral("last-name"), QStringLiteral("The last name."), QStringLiteral("name"));
const QCommandLineOption FirstName(QStringLiteral("first-name"), QStringLiteral("The first name."), QStringLiteral("name"));
const QCommandLineOption DepartmentOption(QStringLiteral("department"), QStringLiteral("The department's name."),
                                          QStringLiteral("name"));
const QCommandLineOption PictureOption(QStringLiteral("picture"),
                                       QStringLiteral("A JPEG or PNG file, at most 2 MB and 2048 pixels a side. It is "
                                                      "kept as it is; the panel is sent a copy at most 256 pixels a side."),
                                       QStringLiteral("file"));

QString noSuchEmployee(const QString &id)
{
    return QStringLiteral("There is no employee with the id \"%1\". 'vorna-service employee list' shows them.").arg(id);
}

// Applies the options given to `employee`; a failure's exit code, or ExitOk.
int applyOptions(const QCommandLineParser &parser, Database &database, Employee *employee, CommandContext &context)
{
    if (parser.isSet(LastName))
        employee->lastName = parser.value(LastName);
    if (parser.isSet(FirstName))
        employee->firstName = parser.value(FirstName);
    if (parser.isSet(DepartmentOption)) {
        const Result<qint64> department = database.organisation().idOf(Kind::Department, parser.value(DepartmentOption));
        if (!department)
            return context.fail(department.error());
        employee->departmentId = *department;
    }
    if (parser.isSet(PictureOption)) {
        const QString problem = transfer::readPictureFile(parser.value(PictureOption), &employee->picture);
        if (!problem.isEmpty())
            return context.fail(problem);
        transfer::Rendition rendition = transfer::makeRendition(employee->picture, parser.value(PictureOption));
        if (!rendition.problem.isEmpty())
            return context.fail(rendition.problem);
        employee->rendition = std::move(rendition.bytes);
    }
    return ExitOk;
}

class EmployeeAdd final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("employee"), QStringLiteral("add")}; }
    QString summary() const override { return QStringLiteral("Adds an employee."); }
    QList<Argument> arguments() const override { return {EmployeeId}; }
    QList<QCommandLineOption> options() const override { return {LastName, FirstName, DepartmentOption, PictureOption}; }
    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        for (const QCommandLineOption &required : {LastName, FirstName, DepartmentOption}) {
            if (parser.value(required).trimmed().isEmpty())
                return QStringLiteral("Give --%1.").arg(required.names().first());
        }
        return {};
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        Employee employee;
        employee.id = arguments.at(0);
        const int applied = applyOptions(parser, database, &employee, context);
        if (applied != ExitOk)
            return applied;
        const StorageError error = database.write(QStringLiteral("add the employee"), [&](Transaction &tx) {
            if (database.organisation().findEmployee(employee.id).ok())
                return StorageError{StorageError::AlreadyExists,
                                    QStringLiteral("There is already an employee with the id \"%1\". Change them with "
                                                   "'vorna-service employee edit'.").arg(employee.id)};
            return database.organisation().upsertEmployee(tx, employee).error();
        });
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Added the employee \"%1\" (%2 %3).\n")
                             .arg(employee.id, employee.firstName, employee.lastName);
        return ExitOk;
    }
};

class EmployeeEdit final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("employee"), QStringLiteral("edit")}; }
    QString summary() const override { return QStringLiteral("Changes an employee; what is not given stays."); }
    QList<Argument> arguments() const override { return {EmployeeId}; }
    QList<QCommandLineOption> options() const override { return {LastName, FirstName, DepartmentOption, PictureOption}; }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        Result<Employee> employee = database.organisation().findEmployee(arguments.at(0));
        if (!employee)
            return employee.error().code == StorageError::NotFound ? context.fail(noSuchEmployee(arguments.at(0)))
                                                                   : context.fail(employee.error());
        const int applied = applyOptions(parser, database, &*employee, context);
        if (applied != ExitOk)
            return applied;
        const StorageError error = database.write(QStringLiteral("change the employee"), [&](Transaction &tx) {
            return database.organisation().upsertEmployee(tx, *employee).error();
        });
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Changed the employee \"%1\".\n").arg(employee->id);
        return ExitOk;
    }
};

class EmployeeList final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("employee"), QStringLiteral("list")}; }
    QString summary() const override { return QStringLiteral("Lists the employees, of one department or all."); }
    QList<QCommandLineOption> options() const override { return {DepartmentOption, TableOutput::formatOption()}; }
    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        return TableOutput::parseFormat(parser.value(TableOutput::formatOption())) ? QString() : TableOutput::formatUsage();
    }

    int run(const QCommandLineParser &parser, const QStringList &, Database &database, CommandContext &context) override
    {
        OrganisationStore &organisation = database.organisation();
        qint64 departmentId = 0;
        if (parser.isSet(DepartmentOption)) {
            const Result<qint64> department = organisation.idOf(Kind::Department, parser.value(DepartmentOption));
            if (!department)
                return context.fail(department.error());
            departmentId = *department;
        }
        const Result<QVector<Employee>> employees = organisation.employees(departmentId);
        const Result<QVector<Department>> departments = organisation.departments();
        if (!employees || !departments)
            return context.fail(employees ? departments.error() : employees.error());
        QHash<qint64, QString> names;
        for (const Department &d : *departments)
            names.insert(d.id, d.name);
        TableOutput table({QStringLiteral("id"), QStringLiteral("last_name"), QStringLiteral("first_name"),
                           QStringLiteral("department"), QStringLiteral("picture"), QStringLiteral("left_on")});
        for (const Employee &e : *employees)
            table.addRow({e.id, e.lastName, e.firstName, names.value(e.departmentId),
                          e.pictureDigest.isEmpty() ? QStringLiteral("no") : QStringLiteral("yes"),
                          e.leftOn.toString(Qt::ISODate)});
        table.write(context.out(), *TableOutput::parseFormat(parser.value(TableOutput::formatOption())));
        return ExitOk;
    }
};

class EmployeeLeave final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("employee"), QStringLiteral("leave")}; }
    QString summary() const override
    {
        return QStringLiteral("Records an employee's last day: their history stays, and presence answers for later "
                              "days leave them out.");
    }
    QList<Argument> arguments() const override { return {EmployeeId}; }
    QList<QCommandLineOption> options() const override { return {m_on}; }
    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        return lastDay(parser).isValid() ? QString() : QStringLiteral("--on takes the last day as YYYY-MM-DD.");
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const StorageError error = database.organisation().setLeaveDay(arguments.at(0), lastDay(parser));
        if (error.code == StorageError::NotFound)
            return context.fail(noSuchEmployee(arguments.at(0)));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("The employee \"%1\" leaves after %2.\n")
                             .arg(arguments.at(0), lastDay(parser).toString(Qt::ISODate));
        return ExitOk;
    }

private:
    QDate lastDay(const QCommandLineParser &parser) const
    {
        return QDate::fromString(parser.value(m_on), Qt::ISODate);
    }
    const QCommandLineOption m_on{QStringLiteral("on"), QStringLiteral("The employee's last day, YYYY-MM-DD."),
                                  QStringLiteral("day")};
};

class EmployeeRemove final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("employee"), QStringLiteral("remove")}; }
    QString summary() const override
    {
        return QStringLiteral("Removes an employee who has no history; use 'employee leave' for one who has.");
    }
    QList<Argument> arguments() const override { return {EmployeeId}; }

    int run(const QCommandLineParser &, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const StorageError error = database.organisation().removeEmployee(arguments.at(0));
        if (error.code == StorageError::NotFound)
            return context.fail(noSuchEmployee(arguments.at(0)));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Removed the employee \"%1\".\n").arg(arguments.at(0));
        return ExitOk;
    }
};

} // namespace

void addEmployeeCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<EmployeeAdd>());
    commands.push_back(std::make_unique<EmployeeEdit>());
    commands.push_back(std::make_unique<EmployeeList>());
    commands.push_back(std::make_unique<EmployeeLeave>());
    commands.push_back(std::make_unique<EmployeeRemove>());
}

} // namespace vorna::service
