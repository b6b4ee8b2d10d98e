#include "benchsupport.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstdio>

namespace Bench {

double timeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

ModelPresenceItem row(int n)
{
    // Ten first syllables times ten second ones: a hundred last names, each on 1% of the
    // rows. "dosav" occurs only in "Radosavić".
    static const char *const firstSyllables[] = {"Rado", "Mil", "Jov", "Pet", "Stan",
                                                 "Nik", "Vuk", "Bog", "Dra", "Zor"};
    static const char *const secondSyllables[] = {"sav", "van", "mir", "jev", "bor",
                                                  "dan", "gor", "ljub", "slav", "đur"};
    static const char *const firstNames[] = {"Ana", "Marko", "Jelena", "Nikola", "Milica", "Stefan", "Ivana"};
    static const char *const departments[] = {"Sales", "Logistics", "Finance", "Production", "Support"};
    static const char *const statuses[] = {"Present", "Absent", "On leave"};
    ModelPresenceItem r;
    r.idEmp = QString::number(100000 + n);
    r.lastName = QString::fromUtf8(firstSyllables[n % 10]) + QString::fromUtf8(secondSyllables[n / 10 % 10])
                 + QString::fromUtf8("ić");
    r.firstName = QString::fromUtf8(firstNames[n % 7]);
    r.lastActDT = QDateTime(QDate(2024, 3, 1 + n % 28), QTime(n % 24, n % 60));
    r.old = n % 5 == 0;
    r.lastActDesc = QString::fromLatin1("Entry");
    r.department = QString::fromUtf8(departments[n % 5]);
    r.presence = QString::fromUtf8(statuses[n % 3]);
    r.actColor = 0x00102030 + n % 256;
    return r;
}

QVector<ModelPresenceItem> rows(int count, const QByteArray &picture)
{
    QVector<ModelPresenceItem> result;
    result.reserve(count);
    for (int n = 0; n < count; ++n) {
        result.append(row(n));
        result.last().picture = picture;
    }
    return result;
}

QByteArray jpeg(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 3 + seed * 7) % 256, (y * 5 + seed * 13) % 256, ((x ^ y) + seed) % 256);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return bytes;
}

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

} // namespace Bench
