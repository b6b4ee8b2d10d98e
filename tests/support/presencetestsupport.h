#pragma once
// Shared by the presence and app tests: a scripted stand-in for the service client's
// presence signals, ready-made rows and encoded pictures.

#include "modelpresenceitem.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

// Carries the three presence signals of the service client with the same signatures, so the
// service handler connects to it exactly as it does to the real client.
class ScriptedPresenceService : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Emits Begin, one row per record (its lastActDT2 is ignored) and End.
    void sendBurst(const QVector<ModelPresenceItem> &rows);
    void sendRow(const ModelPresenceItem &row);

signals:
    void dbPresenceResponseBegin();
    void dbPresenceResponse(QString idEmp, QString lastName, QString firstName, QDateTime lastActDT,
                            bool old, QString lastActDesc, QString department, QByteArray picture,
                            QString presence, int actColor);
    void dbPresenceResponseEnd();
};

namespace PresenceTest {

// A row with every field set: id "E<n>" and names, department and status derived from n.
ModelPresenceItem row(int n);
ModelPresenceItem row(const QString &idEmp, const QString &lastName, const QString &firstName,
                      const QString &department, const QString &presence);
QVector<ModelPresenceItem> rows(int count);

// An encoded picture of the given size, one colour. Format "PNG" or "JPG".
QByteArray picture(int width, int height, const QColor &color, const char *format = "PNG");

// Every pixel fully transparent.
bool isTransparent(const QImage &image);

} // namespace PresenceTest
