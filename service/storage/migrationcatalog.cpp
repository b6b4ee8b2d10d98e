#include "storage/migrationcatalog.h"

#include "storage/organisationstore.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>

// Resources of a static library must be registered by hand, outside any namespace.
static void registerMigrationResources()
{
    Q_INIT_RESOURCE(migrations);
}

namespace vorna::service {

namespace {

const QString resourceFolder = QStringLiteral(":/vorna-storage/migrations");

// Photos arrive compressed. PostgreSQL would try to compress each again before storing it out
// of line, which cost an import of 10,000 photos a third of its time and saved nothing.
StorageError storePicturesAsTheyCome(Transaction &tx, const Progress &)
{
    if (tx.dialect().engine != SqlDialect::Engine::PostgreSQL)
        return StorageError::none();
    return tx.change(QStringLiteral("ALTER TABLE pictures ALTER COLUMN rendition SET STORAGE EXTERNAL,"
                                    " ALTER COLUMN original SET STORAGE EXTERNAL"),
                     {}, QStringLiteral("store pictures uncompressed"))
        .error();
}

// The migrations that have a step in C++, by number.
const QHash<int, MigrationStep> &codeSteps()
{
    static const QHash<int, MigrationStep> steps{
        {12, &OrganisationStore::makeMissingRenditions},
        {13, &storePicturesAsTheyCome},
    };
    return steps;
}

// The file chosen for each migration number: the variant's own one beats the shared one.
QMap<int, QString> chooseFiles(const QString &variant, QString *problem)
{
    static const QRegularExpression fileName(QStringLiteral("^(\\d{4})_[a-z0-9_]+(\\.([a-z]+))?\\.sql$"));
    QMap<int, QString> chosen;
    QHash<QString, QString> taken; // "number.variant" -> file
    const QStringList files = QDir(resourceFolder).entryList(QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QRegularExpressionMatch match = fileName.match(file);
        if (!match.hasMatch()) {
            *problem = QStringLiteral("The migration file %1 is not named NNNN_name.sql.").arg(file);
            return {};
        }
        const int version = match.captured(1).toInt();
        const QString fileVariant = match.captured(3);
        // Two files for one number and variant would leave one of them unapplied unseen.
        const QString place = QStringLiteral("%1.%2").arg(version).arg(fileVariant);
        if (taken.contains(place)) {
            *problem = QStringLiteral("The migration files %1 and %2 have the same number.").arg(taken.value(place), file);
            return {};
        }
        taken.insert(place, file);
        if (fileVariant == variant || (fileVariant.isEmpty() && !chosen.contains(version)))
            chosen.insert(version, file);
    }
    return chosen;
}

} // namespace

QVector<Migration> MigrationCatalog::load(const QString &variant, const QHash<QString, QString> &tokens,
                                          QString *problem)
{
    registerMigrationResources();
    const QMap<int, QString> files = chooseFiles(variant, problem);
    QVector<Migration> migrations;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key() != migrations.size() + 1) {
            *problem = QStringLiteral("Migration %1 is missing before %2.").arg(migrations.size() + 1).arg(it.value());
            return {};
        }
        QFile file(resourceFolder + QLatin1Char('/') + it.value());
        if (!file.open(QIODevice::ReadOnly)) {
            *problem = QStringLiteral("The migration %1 cannot be read.").arg(it.value());
            return {};
        }
        QString sql = QString::fromUtf8(file.readAll());
        for (auto token = tokens.cbegin(); token != tokens.cend(); ++token)
            sql.replace(token.key(), token.value());
        migrations.append({it.key(), it.value(), splitStatements(sql), codeSteps().value(it.key())});
    }
    for (auto step = codeSteps().cbegin(); step != codeSteps().cend(); ++step) {
        if (step.key() > migrations.size()) {
            *problem = QStringLiteral("The migration %1 has a step but no file.").arg(step.key());
            return {};
        }
    }
    return migrations;
}

QStringList MigrationCatalog::splitStatements(const QString &sql)
{
    static const QRegularExpression comment(QStringLiteral("--[^\\n]*"));
    QString text = sql;
    text.remove(comment);
    QStringList statements;
    for (const QString &part : text.split(QLatin1Char(';'))) {
        const QString statement = part.trimmed();
        if (!statement.isEmpty())
            statements << statement;
    }
    return statements;
}

} // namespace vorna::service
