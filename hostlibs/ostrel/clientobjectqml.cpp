#include "clientobjectqml.h"

#include "clientobjectqmlprivate.h"
#include "ostrellog.h"

Q_LOGGING_CATEGORY(lcOstrel, "vorna.ostrel", QtInfoMsg)

ClientObjectQml::ClientObjectQml()
    : d(std::make_unique<ClientObjectQmlPrivate>(this))
{
}

ClientObjectQml::~ClientObjectQml() = default;

void ClientObjectQml::connectToServiceAsync(const QString &url)
{
    d->connectToService(url);
}

void ClientObjectQml::disconnectFromService()
{
    d->disconnectFromService();
}

QString ClientObjectQml::disconnectReason() const
{
    return d->disconnectReason();
}

void ClientObjectQml::dbLoginRequest(const QString &user, const QString &password)
{
    d->login(user, password);
}

void ClientObjectQml::dbPresenceRequest(const QString &userName, const QDateTime &dateTime)
{
    d->presence(userName, dateTime);
}

void ClientObjectQml::dbCalendarListRequest()
{
    d->calendarList();
}

void ClientObjectQml::dbWorkDayListRequest()
{
    d->workDayList();
}

void ClientObjectQml::dbCalEmpHistRequest(const QString &idEmp, int month, int year)
{
    d->calendarHistory(idEmp, month, year);
}

void ClientObjectQml::dbExceptionEmpHistRequest(const QString &idEmp, int month, int year)
{
    d->exceptionHistory(idEmp, month, year);
}

void ClientObjectQml::dbCalendarSetRequest(int calID, const QString &idEmp, const QDateTime &validFrom)
{
    d->setCalendar(calID, idEmp, validFrom);
}

void ClientObjectQml::dbWorkDaySetRequest(int workDayID, const QString &idEmp, const QDateTime &day)
{
    d->setWorkDay(workDayID, idEmp, day);
}
