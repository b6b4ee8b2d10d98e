#include "cli/configfile.h"

#include "storage/sqldialect.h"

#include <QFile>
#include <QRegularExpression>

namespace vorna::service {

namespace {

QString unquoted(const QString &value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        return value.mid(1, value.size() - 2);
    return value;
}

QString lineError(const QString &path, int line, const QString &what)
{
    return QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(what);
}

} // namespace

bool ConfigFile::read(const QString &path, const QStringList &knownKeys, QVector<ConfigEntry> *entries,
                      QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read the configuration file %1 (%2). Check the path and its permissions.")
                     .arg(path, file.errorString());
        return false;
    }
    return parse(path, file.readAll(), knownKeys, entries, error);
}

bool ConfigFile::parse(const QString &path, const QByteArray &text, const QStringList &knownKeys,
                       QVector<ConfigEntry> *entries, QString *error)
{
    static const QRegularExpression keyPattern(QStringLiteral("^[a-z][a-z0-9-]*$"));
    entries->clear();
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        const QString line = lines.at(index).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            *error = lineError(path, number, QStringLiteral("\"%1\" is not of the form key = value.").arg(maskedLocation(line)));
            return false;
        }
        const QString key = line.left(equals).trimmed();
        if (!keyPattern.match(key).hasMatch() || !knownKeys.contains(key)) {
            *error = lineError(path, number, QStringLiteral("unknown key \"%1\". Known keys: %2.")
                                                 .arg(maskedLocation(key), knownKeys.join(QStringLiteral(", "))));
            return false;
        }
        for (const ConfigEntry &earlier : qAsConst(*entries)) {
            if (earlier.key == key) {
                *error = lineError(path, number, QStringLiteral("\"%1\" was already set on line %2; keep one of them.")
                                                     .arg(key).arg(earlier.line));
                return false;
            }
        }
        entries->append({key, unquoted(line.mid(equals + 1).trimmed()), number});
    }
    return true;
}

} // namespace vorna::service
