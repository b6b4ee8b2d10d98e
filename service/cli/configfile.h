#pragma once
// The service's configuration file, /etc/vorna-service/service.conf as packaged: one
// `key = value` per line, where every key is the long name of a `serve` option (`listen`,
// `database`, `tls-cert` ...). `#` and `;` start a comment line; blank lines are skipped;
// values may be put in double quotes to keep surrounding spaces. docs/service.md lists the keys.

#include <QString>
#include <QStringList>
#include <QVector>

namespace vorna::service {

struct ConfigEntry
{
    QString key;
    QString value;
    int line = 0;
};

class ConfigFile
{
public:
    // Reads `path`, accepting only `knownKeys`. False with a sentence naming the file, the line
    // and what is wrong in `error`; a key given twice is an error too, as one of the two would
    // be silently ignored.
    static bool read(const QString &path, const QStringList &knownKeys, QVector<ConfigEntry> *entries,
                     QString *error);

    // The same for text already read; `path` only names it in errors.
    static bool parse(const QString &path, const QByteArray &text, const QStringList &knownKeys,
                      QVector<ConfigEntry> *entries, QString *error);
};

} // namespace vorna::service
