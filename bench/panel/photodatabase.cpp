#include "photodatabase.h"

#include "support/portraitphoto.h"
#include "support/servicerunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace vorna::bench {

namespace {

// One step of making the database, run as long as it takes; false with *error otherwise.
bool runStep(const testing::ServiceRunner &service, const QStringList &arguments, const QByteArray &input, QString *error)
{
    const testing::CommandRun run =
        service.run(arguments + QStringList{QStringLiteral("--database"), service.database()}, input, -1);
    if (run.exitCode == 0)
        return true;
    *error = QStringLiteral("vorna-service %1 ended with exit code %2: %3")
                 .arg(arguments.join(QLatin1Char(' ')))
                 .arg(run.exitCode)
                 .arg(run.err.trimmed().right(2000));
    return false;
}

} // namespace

QString defaultPhotoCache()
{
    // The programs live in bench/panel and bench/service.
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../photo-organisation"));
}

QString photoFolder(const QString &given, const QString &ownRoot, int employees, QString *error)
{
    if (!given.isEmpty()) {
        if (testing::isCompletePhotoFolder(given))
            return given;
        *error = QStringLiteral("The photo folder %1 has no .complete marker: it is still being written or its writing "
                                "was interrupted. Wait for it, or leave the option out to write one of this build's own.")
                     .arg(given);
        return {};
    }
    const QString folder = QDir(ownRoot).filePath(QStringLiteral("photos-%1").arg(employees));
    if (!testing::isCompletePhotoFolder(folder)) {
        std::printf("# writing %d photos into %s (once; it is kept for the next runs)\n", employees, qPrintable(folder));
        std::fflush(stdout);
    }
    if (testing::writePhotoFolder(folder, employees))
        return folder;
    *error = QStringLiteral("Cannot write the photo folder %1; is the disk full?").arg(folder);
    return {};
}

int employeesInFolder(const QString &folder)
{
    QFile csv(QDir(folder).filePath(QStringLiteral("employees.csv")));
    if (!csv.open(QIODevice::ReadOnly))
        return -1;
    int lines = 0;
    while (!csv.atEnd())
        lines += csv.readLine().trimmed().isEmpty() ? 0 : 1;
    return lines - 1; // the header
}

QString photoDatabase(const QString &cacheDir, const QString &folder, int employees, QString *error)
{
    const QString database = QDir(cacheDir).filePath(QStringLiteral("photos-%1.db").arg(employees));
    if (QFileInfo::exists(database))
        return database;
    const int listed = employeesInFolder(folder);
    if (listed != employees) {
        *error = QStringLiteral("The photo folder %1 lists %2 employees, not %3.").arg(folder).arg(listed).arg(employees);
        return {};
    }
    std::printf("# importing %s into %s (once; it is kept for the next runs)\n", qPrintable(folder), qPrintable(database));
    std::fflush(stdout);
    QDir().mkpath(cacheDir);
    const QString partial = database + QStringLiteral(".building");
    for (const QString &leftover : {partial, partial + QStringLiteral("-wal"), partial + QStringLiteral("-shm")})
        QFile::remove(leftover);
    const testing::ServiceRunner service(partial);
    const bool built = runStep(service, {QStringLiteral("init")}, {}, error)
        && runStep(service, {QStringLiteral("import"), folder}, {}, error)
        && runStep(service,
                   {QStringLiteral("user"), QStringLiteral("add"), PhotoManager, QStringLiteral("--role"),
                    QStringLiteral("manager"), QStringLiteral("--password-stdin")},
                   PhotoManagerPassword.toUtf8() + '\n', error);
    if (!built)
        return {};
    if (!QFile::rename(partial, database)) {
        *error = QStringLiteral("Cannot rename %1 to %2.").arg(partial, database);
        return {};
    }
    return database;
}

} // namespace vorna::bench
