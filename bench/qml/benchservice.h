#pragma once
// A stand-in for the service client, for the list-page benchmark and its screenshots.
//
// It offers the client's request methods and answer signals by the same names, so the pages
// and the native service handler connect to it unchanged. Presence answers are emitted by the
// benchmark itself, which times them; the detail page's requests are answered with a small
// fixed calendar so that the screenshots show a coloured month.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

class BenchService : public QObject
{
    Q_OBJECT

public:
    explicit BenchService(QObject *parent = nullptr);

    int presenceRequests() const;

    Q_INVOKABLE void connectToServiceAsync(const QString &url);
    Q_INVOKABLE void disconnectFromService();
    Q_INVOKABLE void dbLoginRequest(const QString &user, const QString &password);
    Q_INVOKABLE void dbPresenceRequest(const QString &userName, const QDateTime &dateTime);
    Q_INVOKABLE void dbCalendarListRequest();
    Q_INVOKABLE void dbWorkDayListRequest();
    Q_INVOKABLE void dbCalEmpHistRequest(const QString &idEmp, int month, int year);
    Q_INVOKABLE void dbExceptionEmpHistRequest(const QString &idEmp, int month, int year);
    Q_INVOKABLE void dbCalendarSetRequest(int calID, const QString &idEmp, const QDateTime &validFrom);
    Q_INVOKABLE void dbWorkDaySetRequest(int workDayID, const QString &idEmp, const QDateTime &day);

signals:
    void connected(bool succ, QString err);
    void disconnected();
    void dbLoginResponse(bool succ);

    void dbPresenceResponseBegin();
    void dbPresenceResponse(QString idEmp, QString lastName, QString firstName, QDateTime lastActDT,
                            bool old, QString lastActDesc, QString department, QByteArray picture,
                            QString presence, int actColor);
    void dbPresenceResponseEnd();

    void dbCalendarListResponseBegin();
    void dbCalendarListResponse(int calID, QString calName);
    void dbCalendarListResponseEnd();

    void dbWorkDayListResponseBegin();
    void dbWorkDayListResponse(int workDayID, QString workDayName);
    void dbWorkDayListResponseEnd();

    void dbCalEmpHistResponseBegin();
    void dbCalEmpHistResponse(QString calName, int calColor, QDateTime validBegin, QDateTime validEnd);
    void dbCalEmpHistResponseEnd();

    void dbExceptionEmpHistResponseBegin();
    void dbExceptionEmpHistResponse(QString dayName, int dayColor, QDateTime validDay);
    void dbExceptionEmpHistResponseEnd();

    void dbCalendarSetResponse(bool succ, QString err);
    void dbWorkDaySetResponse(bool succ, QString err);

private:
    int m_presenceRequests = 0;
};
