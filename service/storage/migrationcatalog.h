#pragma once
// The numbered schema migrations, read from the resources under :/vorna-storage/migrations/.
// A migration is a file NNNN_name.sql shared by both engines; where an engine needs its own
// text, NNNN_name.<variant>.sql (variant "sqlite" or "postgresql") takes its place there.
// Numbers run from 1 without gaps, one file per number and variant.
//
// A migration may also have a step in C++ for what SQL cannot do, such as decoding pictures:
// it runs after the migration's statements, in the same transaction, so it is applied whole
// or not at all like the rest. The catalogue lists the steps by migration number.

#include "storage/storage.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace vorna::service {

class Transaction;

// Reports its own progress under a phase of its own.
using MigrationStep = std::function<StorageError(Transaction &tx, const Progress &progress)>;

struct Migration
{
    int version = 0;
    QString name;            // the file name, for progress lines and errors
    QStringList statements;  // in order, stand-ins already replaced
    MigrationStep step;      // empty for a migration of statements only
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
