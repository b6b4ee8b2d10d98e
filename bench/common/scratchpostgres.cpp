#include "scratchpostgres.h"

#include <QStringList>

#include <libpq-fe.h>
#include <unistd.h>

ScratchPostgres::ScratchPostgres(const QString &server, const QString &prefix)
    : m_server(server), m_name(QStringLiteral("%1_%2").arg(prefix).arg(getpid()))
{
}

ScratchPostgres::~ScratchPostgres()
{
    if (m_made)
        execute(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
}

QString ScratchPostgres::create(QString *error)
{
    if (!execute(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name), error)
        || !execute(QStringLiteral("CREATE DATABASE %1").arg(m_name), error))
        return {};
    m_made = true;
    return location(error);
}

bool ScratchPostgres::execute(const QString &sql, QString *error)
{
    PGconn *connection = PQconnectdb(m_server.toUtf8().constData());
    PQsetNoticeProcessor(connection, [](void *, const char *) {}, nullptr); // "does not exist, skipping"
    PGresult *result = PQstatus(connection) == CONNECTION_OK ? PQexec(connection, sql.toUtf8().constData()) : nullptr;
    const bool done = result && PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!done && error)
        *error = QStringLiteral("%1 on %2 failed: %3").arg(sql, m_server, QString::fromUtf8(PQerrorMessage(connection)).trimmed());
    PQclear(result);
    PQfinish(connection);
    return done;
}

QString ScratchPostgres::location(QString *error) const
{
    char *problem = nullptr;
    PQconninfoOption *options = PQconninfoParse(m_server.toUtf8().constData(), &problem);
    if (!options) {
        *error = QStringLiteral("%1 is not a connection string libpq reads: %2").arg(m_server, QString::fromUtf8(problem));
        PQfreemem(problem);
        return {};
    }
    QStringList keywords;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        const bool isDatabase = qstrcmp(option->keyword, "dbname") == 0;
        if (!option->val && !isDatabase)
            continue;
        QString value = isDatabase ? m_name : QString::fromUtf8(option->val);
        value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
        keywords << QStringLiteral("%1='%2'").arg(QLatin1String(option->keyword), value);
    }
    PQconninfoFree(options);
    return keywords.join(QLatin1Char(' '));
}
