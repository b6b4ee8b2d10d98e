#include "support/scriptedservice.h"

#include <QMetaMethod>
#include <QtGlobal>

#include <array>

namespace {

constexpr int maxSignalArguments = 10;

// The answer signals a test may emit: ours, not QObject's, and not the record's own.
QMetaMethod findAnswerSignal(const QMetaObject *meta, const QString &name)
{
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() != QMetaMethod::Signal || QString::fromLatin1(method.name()) != name)
            continue;
        if (name == QLatin1String("called") || name == QLatin1String("callsChanged"))
            break;
        return method;
    }
    return {};
}

// Converts `value` to the parameter type `typeId`; null or undefined gives the empty value.
bool convertArgument(QVariant value, int typeId, QVariant *out)
{
    if (!value.isValid() || value.isNull()) {
        *out = QVariant(typeId, nullptr);
        return true;
    }
    if (value.userType() != typeId && !value.convert(typeId))
        return false;
    *out = value;
    return true;
}

} // namespace

ScriptedService::ScriptedService(QObject *parent)
    : QObject(parent)
{
}

void ScriptedService::connectToServiceAsync(const QString &url)
{
    record(__func__, {url});
}

void ScriptedService::disconnectFromService()
{
    record(__func__);
}

void ScriptedService::dbLoginRequest(const QString &user, const QString &password)
{
    record(__func__, {user, password});
}

void ScriptedService::dbPresenceRequest(const QString &userName, const QDateTime &dateTime)
{
    record(__func__, {userName, dateTime});
}

void ScriptedService::dbCalendarListRequest()
{
    record(__func__);
}

void ScriptedService::dbWorkDayListRequest()
{
    record(__func__);
}

void ScriptedService::dbCalEmpHistRequest(const QString &idEmp, int month, int year)
{
    record(__func__, {idEmp, month, year});
}

void ScriptedService::dbExceptionEmpHistRequest(const QString &idEmp, int month, int year)
{
    record(__func__, {idEmp, month, year});
}

void ScriptedService::dbCalendarSetRequest(int calID, const QString &idEmp, const QDateTime &validFrom)
{
    record(__func__, {calID, idEmp, validFrom});
}

void ScriptedService::dbWorkDaySetRequest(int workDayID, const QString &idEmp, const QDateTime &day)
{
    record(__func__, {workDayID, idEmp, day});
}

QVariantList ScriptedService::calls() const
{
    return m_calls;
}

QStringList ScriptedService::callNames() const
{
    QStringList names;
    for (const QVariant &call : m_calls)
        names << call.toMap().value(QStringLiteral("name")).toString();
    return names;
}

int ScriptedService::callCount(const QString &name) const
{
    return callNames().count(name);
}

QVariantList ScriptedService::lastArgs(const QString &name) const
{
    for (auto it = m_calls.crbegin(); it != m_calls.crend(); ++it) {
        const QVariantMap call = it->toMap();
        if (call.value(QStringLiteral("name")).toString() == name)
            return call.value(QStringLiteral("args")).toList();
    }
    return {};
}

void ScriptedService::clearCalls()
{
    m_calls.clear();
    emit callsChanged();
}

bool ScriptedService::emitSignal(const QString &name, const QVariantList &args)
{
    const QMetaMethod method = findAnswerSignal(metaObject(), name);
    if (!method.isValid()) {
        qWarning("ScriptedService: there is no answer signal named \"%s\".", qPrintable(name));
        return false;
    }
    if (args.size() != method.parameterCount()) {
        qWarning("ScriptedService: %s takes %d arguments, the test gave %d.", qPrintable(name),
                 method.parameterCount(), int(args.size()));
        return false;
    }
    std::array<QVariant, maxSignalArguments> values;
    std::array<QGenericArgument, maxSignalArguments> generic;
    for (int i = 0; i < args.size(); ++i) {
        const int typeId = method.parameterType(i);
        if (!convertArgument(args.at(i), typeId, &values[i])) {
            qWarning("ScriptedService: argument %d of %s does not convert to %s.", i + 1,
                     qPrintable(name), QMetaType::typeName(typeId));
            return false;
        }
        generic[i] = QGenericArgument(QMetaType::typeName(typeId), values[i].constData());
    }
    return method.invoke(this, Qt::DirectConnection, generic[0], generic[1], generic[2], generic[3],
                         generic[4], generic[5], generic[6], generic[7], generic[8], generic[9]);
}

bool ScriptedService::emitPresenceAnswer(const QVariantList &rows)
{
    static const char *const keys[] = {"idEmp", "lastName", "firstName", "lastActDT", "old",
                                       "lastActDesc", "department", "picture", "presence",
                                       "actColor"};
    emit dbPresenceResponseBegin();
    bool allSent = true;
    for (const QVariant &row : rows) {
        const QVariantMap values = row.toMap();
        QVariantList args;
        for (const char *key : keys)
            args << values.value(QString::fromLatin1(key));
        allSent = emitSignal(QStringLiteral("dbPresenceResponse"), args) && allSent;
    }
    emit dbPresenceResponseEnd();
    return allSent;
}

void ScriptedService::record(const char *name, const QVariantList &args)
{
    const QString method = QString::fromLatin1(name);
    m_calls << QVariantMap{{QStringLiteral("name"), method}, {QStringLiteral("args"), args}};
    emit called(method, args);
    emit callsChanged();
}
