#include "support/presencetestsupport.h"

#include <QBuffer>
#include <QImage>

void ScriptedPresenceService::sendBurst(const QVector<ModelPresenceItem> &rows)
{
    emit dbPresenceResponseBegin();
    for (const ModelPresenceItem &r : rows)
        sendRow(r);
    emit dbPresenceResponseEnd();
}

void ScriptedPresenceService::sendRow(const ModelPresenceItem &r)
{
    emit dbPresenceResponse(r.idEmp, r.lastName, r.firstName, r.lastActDT, r.old, r.lastActDesc,
                            r.department, r.picture, r.presence, r.actColor);
}

namespace PresenceTest {

ModelPresenceItem row(int n)
{
    static const char *const statuses[] = {"Present", "Absent", "On leave"};
    ModelPresenceItem item = row(QStringLiteral("E%1").arg(n), QStringLiteral("Last%1").arg(n),
                                 QStringLiteral("First%1").arg(n),
                                 QStringLiteral("Dept%1").arg(n % 7),
                                 QString::fromLatin1(statuses[n % 3]));
    item.lastActDT = QDateTime(QDate(2024, 3, 1 + n % 28), QTime(n % 24, n % 60));
    item.old = n % 2 == 1;
    item.actColor = 0x000000ff + n;
    return item;
}

ModelPresenceItem row(const QString &idEmp, const QString &lastName, const QString &firstName,
                      const QString &department, const QString &presence)
{
    ModelPresenceItem item;
    item.idEmp = idEmp;
    item.lastName = lastName;
    item.firstName = firstName;
    item.lastActDT = QDateTime(QDate(2024, 3, 7), QTime(9, 5));
    item.lastActDesc = QStringLiteral("Entry");
    item.department = department;
    item.presence = presence;
    item.actColor = 0x0000ff00;
    return item;
}

QVector<ModelPresenceItem> rows(int count)
{
    QVector<ModelPresenceItem> result;
    result.reserve(count);
    for (int n = 0; n < count; ++n)
        result.append(row(n));
    return result;
}

QByteArray picture(int width, int height, const QColor &color, const char *format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool isTransparent(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}

} // namespace PresenceTest
