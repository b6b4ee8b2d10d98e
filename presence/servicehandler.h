#pragma once
// Turns the service client's presence answer (Begin, one row per employee, End) into the
// contents of the current presence list and of the picture store.
//
// It connects at construction, before any screen exists, so for every presence signal it
// runs before the presence screen's own handlers: when the screen sees a row, the row is
// already in the model.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

class ServiceHandler : public QObject
{
    Q_OBJECT

public:
    // Needs the service client and the picture store references in place, and the logger.
    explicit ServiceHandler(QObject *parent = nullptr);

signals:
    void sigLogWrite(int level, QString msg, quintptr threadId, void *);

public slots:
    void dbPresenceResponseBegin();
    void dbPresenceResponse(QString idEmp, QString lastName, QString firstName, QDateTime lastActDT,
                            bool old, QString lastActDesc, QString department, QByteArray picture,
                            QString presence, int actColor);
    void dbPresenceResponseEnd();
};
