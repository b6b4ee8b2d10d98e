#include "support/portraitphoto.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>

#include <atomic>
#include <thread>
#include <vector>

namespace vorna::testing {

namespace {

const char *const CompleteMarker = ".complete";

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QString photoPath(const QString &folder, int index)
{
    return QDir(folder).filePath(QStringLiteral("pictures/e%1.jpg").arg(index, 6, 10, QLatin1Char('0')));
}

// Encoding a photo takes a tenth of a second: one worker per core, each taking the next index.
bool writePhotos(const QString &folder, int employees)
{
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < std::max(1u, std::thread::hardware_concurrency()); ++w) {
        workers.emplace_back([&] {
            for (int i = next++; i < employees && !failed; i = next++) {
                if (!writeFile(photoPath(folder, i), portraitPhoto(i)))
                    failed = true;
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    return !failed;
}

QByteArray employeesCsv(int employees)
{
    QByteArray csv = "id,last_name,first_name,department,picture\n";
    for (int i = 0; i < employees; ++i) {
        const QByteArray id = "E" + QByteArray::number(i).rightJustified(6, '0');
        csv += id + ",Last" + QByteArray::number(i % 977) + ",First" + QByteArray::number(i % 313) + ",Department "
            + QByteArray::number(i % 50) + ",pictures/" + id.toLower() + ".jpg\n";
    }
    return csv;
}

QByteArray registrationsCsv(int employees)
{
    QByteArray csv = "employee,at,activity\n";
    const QDateTime arrival(QDate(2026, 11, 2), QTime(7, 0), Qt::UTC);
    for (int i = 0; i < employees; ++i) {
        const QByteArray id = "E" + QByteArray::number(i).rightJustified(6, '0');
        csv += id + ',' + arrival.addSecs(i % 900).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + ",Arrival\n";
        csv += id + ',' + arrival.addSecs(9 * 3600 + i % 600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
            + ",Departure\n";
    }
    return csv;
}

} // namespace

// A gradient under noise whose strength varies with the index: smooth enough to compress like
// a photo, noisy enough to weigh what one does.
QByteArray portraitPhoto(int index)
{
    QRandomGenerator random(quint32(index) + 1);
    QImage image(900, 1200, QImage::Format_RGB32);
    const int amplitude = 4 + index % 8;
    const int cx = int(random.bounded(900));
    const int cy = int(random.bounded(1200));
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int distance = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 4000;
            const int noise = int(random.bounded(2 * amplitude + 1)) - amplitude;
            line[x] = qRgb(qBound(0, 120 + distance % 90 + noise, 255), qBound(0, 90 + (x / 7) % 60 + noise, 255),
                           qBound(0, 70 + (y / 9) % 80 + noise, 255));
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return buffer.data();
}

bool isCompletePhotoFolder(const QString &folder)
{
    return QFile::exists(QDir(folder).filePath(QLatin1String(CompleteMarker)));
}

bool writePhotoFolder(const QString &folder, int employees)
{
    if (isCompletePhotoFolder(folder))
        return true;
    QByteArray departments = "name\n";
    for (int d = 0; d < 50; ++d)
        departments += "Department " + QByteArray::number(d) + '\n';
    const QDir dir(folder);
    return QDir().mkpath(dir.filePath(QStringLiteral("pictures"))) && writePhotos(folder, employees)
        && writeFile(dir.filePath(QStringLiteral("departments.csv")), departments)
        && writeFile(dir.filePath(QStringLiteral("statuses.csv")), "name,color,present\nIn,#00AA00,yes\nOut,#999999,no\n")
        && writeFile(dir.filePath(QStringLiteral("activities.csv")), "name,status\nArrival,In\nDeparture,Out\n")
        && writeFile(dir.filePath(QStringLiteral("employees.csv")), employeesCsv(employees))
        && writeFile(dir.filePath(QStringLiteral("registrations.csv")), registrationsCsv(employees))
        && writeFile(dir.filePath(QLatin1String(CompleteMarker)), "");
}

} // namespace vorna::testing
