#pragma once
// A stand-in for the service client (ClientObjectQml) in the QML tests.
//
// It has the client's request methods and answer signals, with the same names and argument
// types. A request only records the call; nothing is answered until the test emits an
// answer itself, so each test decides exactly what the pages hear and when.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class ScriptedService : public QObject
{
    Q_OBJECT
    // Every request made so far, oldest first: {name: "dbLoginRequest", args: [..]}.
    Q_PROPERTY(QVariantList calls READ calls NOTIFY callsChanged)

public:
    explicit ScriptedService(QObject *parent = nullptr);

    // The service client's requests.
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
    // Not a request, so not recorded: what the test set with setDisconnectReason.
    Q_INVOKABLE QString disconnectReason() const { return m_disconnectReason; }
    Q_INVOKABLE void setDisconnectReason(const QString &reason) { m_disconnectReason = reason; }

    // The record of the requests.
    QVariantList calls() const;
    // The names of the requests made so far, oldest first.
    Q_INVOKABLE QStringList callNames() const;
    Q_INVOKABLE int callCount(const QString &name) const;
    // The arguments of the latest call to `name`; an empty list if there was none.
    Q_INVOKABLE QVariantList lastArgs(const QString &name) const;
    Q_INVOKABLE void clearCalls();

    // Emits the answer signal `name` with `args`, converted to the signal's parameter types.
    // null or undefined gives the type's empty value (an invalid date-time, for instance).
    // Warns and returns false for an unknown signal, a wrong number of arguments or an
    // argument that does not convert: wrap it in verify().
    Q_INVOKABLE bool emitSignal(const QString &name, const QVariantList &args = {});
    // Emits a whole presence answer: Begin, one dbPresenceResponse per row, End. A row is an
    // object with the signal's parameter names as keys (idEmp, lastName, firstName,
    // lastActDT, old, lastActDesc, department, picture, presence, actColor); missing keys
    // take the empty value of their type.
    Q_INVOKABLE bool emitPresenceAnswer(const QVariantList &rows);

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
    void presenceChanged();

    // Not part of the client: tells the test that a request was recorded.
    void called(QString name, QVariantList args);
    void callsChanged();

private:
    void record(const char *name, const QVariantList &args = {});

    QVariantList m_calls;
    QString m_disconnectReason;
};
