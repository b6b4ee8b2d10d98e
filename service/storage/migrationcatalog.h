#pragma once
// The numbered schema migrations, read from the resources under :/vorna-storage/migrations/.
// A migration is a file NNNN_name.sql shared by both engines; where an engine needs its own
// text, NNNN_name.<variant>.sql (variant "sqlite" or "postgresql") takes its place there.
// Numbers run from 1 without gaps.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace vorna::service {

struct Migration
{
    int version = 0;
    QString name;            // the file name, for progress lines and errors
    QStringList statements;  // in order, stand-ins already replaced
};

class MigrationCatalog
{
public:
    // Loads the migrations for `variant`, replacing each key of `tokens` by its value.
    // Empty with `problem` set when the resources are inconsistent.
    static QVector<Migration> load(const QString &variant, const QHash<QString, QString> &tokens,
                                   QString *problem);
    // Splits a migration's text into statements: comments ("--" to the end of the line) go,
    // and a ";" ends a statement. Migration files hold no ";" or "--" inside literals.
    static QStringList splitStatements(const QString &sql);
};

} // namespace vorna::service
