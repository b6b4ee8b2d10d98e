// department | status | activity | calendar | workday: the organisation's named kinds, one
// verb set for all of them. Employees have their own file.

#include "cli/command.h"
#include "cli/organisationcommands.h"
#include "cli/tableoutput.h"

#include <QRegularExpression>

namespace vorna::service {

namespace {

using Kind = OrganisationStore::Kind;

// What sets one kind apart: its command word and which attributes it has besides the name.
struct KindSpec
{
    Kind kind;
    QString word;
    bool hasColor = false;
    bool hasPresent = false;
    bool hasStatus = false;
};

const QCommandLineOption ColorOption(QStringLiteral("color"), QStringLiteral("The colour, as #RRGGBB."),
                                     QStringLiteral("colour"));
const QCommandLineOption PresentOption(QStringLiteral("present"),
                                       QStringLiteral("yes when time in this status counts as present, else no."),
                                       QStringLiteral("yes|no"));
const QCommandLineOption StatusOption(QStringLiteral("status"),
                                      QStringLiteral("The presence status this activity puts an employee in."),
                                      QStringLiteral("name"));
const QCommandLineOption NameOption(QStringLiteral("name"), QStringLiteral("A new name."), QStringLiteral("name"));
const Command::Argument NameArgument{QStringLiteral("NAME"), QStringLiteral("The name, as the panel shows it.")};

// The attributes of one named record, whichever its kind.
struct Named
{
    QString name;
    int color = 0;
    bool present = false;
    QString status;
};

Result<Upsert> store(Transaction &tx, OrganisationStore &organisation, const KindSpec &spec, const Named &named)
{
    switch (spec.kind) {
    case Kind::Department: {
        Department department{0, named.name};
        return organisation.upsertDepartment(tx, department);
    }
    case Kind::Status: {
        PresenceStatus status{0, named.name, named.color, named.present};
        return organisation.upsertStatus(tx, status);
    }
    case Kind::Activity: {
        const Result<qint64> status = organisation.idOf(tx, Kind::Status, named.status);
        if (!status)
            return status.error();
        ActivityKind activity{0, named.name, *status};
        return organisation.upsertActivityKind(tx, activity);
    }
    case Kind::Calendar: {
        Calendar calendar{0, named.name, named.color};
        return organisation.upsertCalendar(tx, calendar);
    }
    case Kind::WorkDay: {
        WorkDayKind workDay{0, named.name, named.color};
        return organisation.upsertWorkDayKind(tx, workDay);
    }
    }
    return Upsert::Unchanged;
}

// Every record of the kind, by name.
Result<QVector<Named>> listOf(OrganisationStore &organisation, const KindSpec &spec)
{
    QVector<Named> all;
    switch (spec.kind) {
    case Kind::Department: {
        const auto rows = organisation.departments();
        for (const Department &d : rows.value())
            all.append({d.name, 0, false, {}});
        return rows.ok() ? Result<QVector<Named>>(all) : rows.error();
    }
    case Kind::Status: {
        const auto rows = organisation.presenceStatuses();
        for (const PresenceStatus &s : rows.value())
            all.append({s.name, s.color, s.countsPresent, {}});
        return rows.ok() ? Result<QVector<Named>>(all) : rows.error();
    }
    case Kind::Activity: {
        const auto rows = organisation.activityKinds();
        const auto statuses = organisation.presenceStatuses();
        if (!statuses)
            return statuses.error();
        QHash<qint64, QString> names;
        for (const PresenceStatus &s : statuses.value())
            names.insert(s.id, s.name);
        for (const ActivityKind &k : rows.value())
            all.append({k.name, 0, false, names.value(k.statusId)});
        return rows.ok() ? Result<QVector<Named>>(all) : rows.error();
    }
    case Kind::Calendar: {
        const auto rows = organisation.calendars();
        for (const Calendar &c : rows.value())
            all.append({c.name, c.color, false, {}});
        return rows.ok() ? Result<QVector<Named>>(all) : rows.error();
    }
    case Kind::WorkDay: {
        const auto rows = organisation.workDayKinds();
        for (const WorkDayKind &k : rows.value())
            all.append({k.name, k.color, false, {}});
        return rows.ok() ? Result<QVector<Named>>(all) : rows.error();
    }
    }
    return all;
}

QString presentText(bool present)
{
    return present ? QStringLiteral("yes") : QStringLiteral("no");
}

// Reads the attribute options into `named`; a sentence when one is malformed.
QString readAttributes(const QCommandLineParser &parser, const KindSpec &spec, Named *named)
{
    if (spec.hasColor && parser.isSet(ColorOption)) {
        const std::optional<int> color = colorFromText(parser.value(ColorOption));
        if (!color)
            return QStringLiteral("--color takes a colour as #RRGGBB, for example #43A047, not \"%1\".")
                .arg(parser.value(ColorOption));
        named->color = *color;
    }
    if (spec.hasPresent && parser.isSet(PresentOption)) {
        const QString present = parser.value(PresentOption);
        if (present != QLatin1String("yes") && present != QLatin1String("no"))
            return QStringLiteral("--present takes yes or no, not \"%1\".").arg(present);
        named->present = present == QLatin1String("yes");
    }
    if (spec.hasStatus && parser.isSet(StatusOption))
        named->status = parser.value(StatusOption);
    return {};
}

QList<QCommandLineOption> attributeOptions(const KindSpec &spec)
{
    QList<QCommandLineOption> options;
    if (spec.hasColor)
        options << ColorOption;
    if (spec.hasPresent)
        options << PresentOption;
    if (spec.hasStatus)
        options << StatusOption;
    return options;
}

// "a department", "an activity kind": the nouns of these kinds sound as they are spelt.
QString withArticle(const QString &noun)
{
    const bool vowel = QStringLiteral("aeiou").contains(noun.left(1));
    return (vowel ? QStringLiteral("an ") : QStringLiteral("a ")) + noun;
}

// The same at the start of a sentence.
QString capitalised(const QString &text)
{
    return text.left(1).toUpper() + text.mid(1);
}

QString checkName(const KindSpec &spec, const QString &name)
{
    if (name.trimmed().isEmpty() || name.size() > 256)
        return QStringLiteral("%1 name has 1 to 256 characters.")
            .arg(capitalised(withArticle(OrganisationStore::nounOf(spec.kind))));
    return {};
}

class NamedCommand : public Command
{
public:
    explicit NamedCommand(KindSpec spec) : m_spec(std::move(spec)) {}

protected:
    QString noun() const { return OrganisationStore::nounOf(m_spec.kind); }
    const KindSpec m_spec;
};

class NamedAdd final : public NamedCommand
{
public:
    using NamedCommand::NamedCommand;
    QStringList words() const override { return {m_spec.word, QStringLiteral("add")}; }
    QString summary() const override { return QStringLiteral("Adds %1.").arg(withArticle(noun())); }
    QList<Argument> arguments() const override { return {NameArgument}; }
    QList<QCommandLineOption> options() const override { return attributeOptions(m_spec); }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &arguments) const override
    {
        Named named;
        QString problem = checkName(m_spec, arguments.at(0));
        if (problem.isEmpty())
            problem = readAttributes(parser, m_spec, &named);
        if (problem.isEmpty() && m_spec.hasColor && !parser.isSet(ColorOption))
            problem = QStringLiteral("Give the %1's colour with --color #RRGGBB.").arg(noun());
        if (problem.isEmpty() && m_spec.hasPresent && !parser.isSet(PresentOption))
            problem = QStringLiteral("Say with --present yes or --present no whether the status counts as present.");
        if (problem.isEmpty() && m_spec.hasStatus && !parser.isSet(StatusOption))
            problem = QStringLiteral("Name the status the activity puts an employee in with --status.");
        return problem;
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        Named named{arguments.at(0), 0, false, {}};
        readAttributes(parser, m_spec, &named);
        OrganisationStore &organisation = database.organisation();
        const StorageError error = database.write(QStringLiteral("add the %1").arg(noun()), [&](Transaction &tx) {
            const Result<qint64> existing = organisation.idOf(tx, m_spec.kind, named.name);
            if (existing)
                return StorageError{StorageError::AlreadyExists,
                                    QStringLiteral("%1 named \"%2\" already exists. Change it with 'vorna-service %3 "
                                                   "edit' or choose another name.")
                                        .arg(capitalised(withArticle(noun())), named.name, m_spec.word)};
            if (existing.error().code != StorageError::NotFound)
                return existing.error();
            return store(tx, organisation, m_spec, named).error();
        });
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Added the %1 \"%2\".\n").arg(noun(), named.name);
        return ExitOk;
    }
};

// Department has nothing to edit but its name: `rename OLD NEW`; the others `edit NAME` with
// the attributes to change and --name for a new name.
class NamedEdit final : public NamedCommand
{
public:
    using NamedCommand::NamedCommand;
    QStringList words() const override
    {
        return {m_spec.word, m_spec.kind == Kind::Department ? QStringLiteral("rename") : QStringLiteral("edit")};
    }
    QString summary() const override
    {
        return m_spec.kind == Kind::Department ? QStringLiteral("Gives a department a new name.")
                                               : QStringLiteral("Changes %1; what is not given stays.").arg(withArticle(noun()));
    }
    QList<Argument> arguments() const override
    {
        if (m_spec.kind == Kind::Department)
            return {NameArgument, {QStringLiteral("NEW_NAME"), QStringLiteral("The department's new name.")}};
        return {NameArgument};
    }
    QList<QCommandLineOption> options() const override
    {
        return m_spec.kind == Kind::Department ? QList<QCommandLineOption>() : attributeOptions(m_spec) << NameOption;
    }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &arguments) const override
    {
        Named named;
        QString problem = readAttributes(parser, m_spec, &named);
        if (problem.isEmpty() && newName(parser, arguments) != arguments.at(0))
            problem = checkName(m_spec, newName(parser, arguments));
        return problem;
    }

    int run(const QCommandLineParser &parser, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const QString name = arguments.at(0);
        const Result<QVector<Named>> all = listOf(database.organisation(), m_spec);
        if (!all)
            return context.fail(all.error());
        const auto found = std::find_if(all->cbegin(), all->cend(), [&](const Named &n) { return n.name == name; });
        if (found == all->cend())
            return context.fail(QStringLiteral("There is no %1 named \"%2\". 'vorna-service %3 list' shows them.")
                                    .arg(noun(), name, m_spec.word));
        Named named = *found;
        readAttributes(parser, m_spec, &named);
        StorageError error = database.write(QStringLiteral("change the %1").arg(noun()), [&](Transaction &tx) {
            return store(tx, database.organisation(), m_spec, named).error();
        });
        const QString renamed = newName(parser, arguments);
        if (error.ok() && renamed != name)
            error = database.organisation().rename(m_spec.kind, name, renamed);
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Changed the %1 \"%2\".\n").arg(noun(), renamed);
        return ExitOk;
    }

private:
    QString newName(const QCommandLineParser &parser, const QStringList &arguments) const
    {
        if (m_spec.kind == Kind::Department)
            return arguments.at(1);
        return parser.isSet(NameOption) ? parser.value(NameOption) : arguments.at(0);
    }
};

class NamedList final : public NamedCommand
{
public:
    using NamedCommand::NamedCommand;
    QStringList words() const override { return {m_spec.word, QStringLiteral("list")}; }
    QString summary() const override { return QStringLiteral("Lists the %1 records.").arg(noun()); }
    QList<QCommandLineOption> options() const override { return {TableOutput::formatOption()}; }
    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        return TableOutput::parseFormat(parser.value(TableOutput::formatOption())) ? QString() : TableOutput::formatUsage();
    }

    int run(const QCommandLineParser &parser, const QStringList &, Database &database, CommandContext &context) override
    {
        const Result<QVector<Named>> all = listOf(database.organisation(), m_spec);
        if (!all)
            return context.fail(all.error());
        QStringList columns{QStringLiteral("name")};
        if (m_spec.hasColor)
            columns << QStringLiteral("color");
        if (m_spec.hasPresent)
            columns << QStringLiteral("present");
        if (m_spec.hasStatus)
            columns << QStringLiteral("status");
        TableOutput table(columns);
        for (const Named &named : *all) {
            QStringList row{named.name};
            if (m_spec.hasColor)
                row << colorText(named.color);
            if (m_spec.hasPresent)
                row << presentText(named.present);
            if (m_spec.hasStatus)
                row << named.status;
            table.addRow(row);
        }
        table.write(context.out(), *TableOutput::parseFormat(parser.value(TableOutput::formatOption())));
        return ExitOk;
    }
};

class NamedRemove final : public NamedCommand
{
public:
    using NamedCommand::NamedCommand;
    QStringList words() const override { return {m_spec.word, QStringLiteral("remove")}; }
    QString summary() const override
    {
        return QStringLiteral("Removes %1 that nothing refers to any more.").arg(withArticle(noun()));
    }
    QList<Argument> arguments() const override { return {NameArgument}; }

    int run(const QCommandLineParser &, const QStringList &arguments, Database &database,
            CommandContext &context) override
    {
        const StorageError error = database.organisation().remove(m_spec.kind, arguments.at(0));
        if (!error.ok())
            return context.fail(error);
        context.out() << QStringLiteral("Removed the %1 \"%2\".\n").arg(noun(), arguments.at(0));
        return ExitOk;
    }
};

} // namespace

std::optional<int> colorFromText(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^#([0-9A-Fa-f]{6})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const uint rgb = match.captured(1).toUInt(nullptr, 16);
    // Stored as 0x00BBGGRR.
    return int(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}

QString colorText(int color)
{
    const uint bgr = uint(color);
    const uint rgb = ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
    return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
}

void addOrganisationCommands(CommandList &commands)
{
    const QVector<KindSpec> kinds{
        {Kind::Department, QStringLiteral("department")},
        {Kind::Status, QStringLiteral("status"), true, true, false},
        {Kind::Activity, QStringLiteral("activity"), false, false, true},
        {Kind::Calendar, QStringLiteral("calendar"), true},
        {Kind::WorkDay, QStringLiteral("workday"), true},
    };
    for (const KindSpec &spec : kinds) {
        commands.push_back(std::make_unique<NamedAdd>(spec));
        commands.push_back(std::make_unique<NamedEdit>(spec));
        commands.push_back(std::make_unique<NamedList>(spec));
        commands.push_back(std::make_unique<NamedRemove>(spec));
    }
}

} // namespace vorna::service
