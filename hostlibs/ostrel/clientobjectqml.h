#pragma once
// Ostrel: the client of the attendance service (vorna-service), for QML.
//
// One instance lives on the GUI thread. Every request method returns at once; its answer
// arrives later as signals on the GUI thread. A request that answers with rows always
// answers Begin, zero or more rows, End, whatever happens (service error, lost connection,
// not connected, not logged in). Connection options come from the Pindle store.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

#if defined(OSTREL_LIBRARY)
#  define OSTREL_EXPORT Q_DECL_EXPORT
#else
#  define OSTREL_EXPORT Q_DECL_IMPORT
#endif

class ClientObjectQmlPrivate;

class OSTREL_EXPORT ClientObjectQml : public QObject
{
    Q_OBJECT
public:
    ClientObjectQml();
    ~ClientObjectQml() override;

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
    // Why the last session ended without being asked to, as a sentence for the user: the
    // service's own reason ("Your session has expired. Log in again.") or the connection's
    // loss. Empty after disconnectFromService() and from the next connect attempt on.
    Q_INVOKABLE QString disconnectReason() const;

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

    // The service announced a change of someone's presence that this session may see.
    void presenceChanged();

private:
    friend class ClientObjectQmlPrivate;
    std::unique_ptr<ClientObjectQmlPrivate> d;
};
