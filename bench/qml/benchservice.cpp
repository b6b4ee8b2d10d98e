#include "benchservice.h"

#include <QDate>
#include <QTimer>

namespace {

// Answers arrive after the request has returned, as they do from the real client.
template<typename Answer>
void answerLater(QObject *context, Answer answer)
{
    QTimer::singleShot(0, context, answer);
}

QDateTime midnight(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(0, 0));
}

} // namespace

BenchService::BenchService(QObject *parent)
    : QObject(parent)
{
}

int BenchService::presenceRequests() const
{
    return m_presenceRequests;
}

void BenchService::connectToServiceAsync(const QString &)
{
    answerLater(this, [this] { emit connected(true, QString()); });
}

void BenchService::disconnectFromService()
{
    answerLater(this, [this] { emit disconnected(); });
}

void BenchService::dbLoginRequest(const QString &, const QString &)
{
    answerLater(this, [this] { emit dbLoginResponse(true); });
}

void BenchService::dbPresenceRequest(const QString &, const QDateTime &)
{
    // The benchmark emits the presence burst itself, so that it can time it.
    ++m_presenceRequests;
}

void BenchService::dbCalendarListRequest()
{
    answerLater(this, [this] {
        emit dbCalendarListResponseBegin();
        emit dbCalendarListResponse(1, QStringLiteral("Shift A"));
        emit dbCalendarListResponse(2, QStringLiteral("Shift B"));
        emit dbCalendarListResponseEnd();
    });
}

void BenchService::dbWorkDayListRequest()
{
    answerLater(this, [this] {
        emit dbWorkDayListResponseBegin();
        emit dbWorkDayListResponse(1, QStringLiteral("Holiday"));
        emit dbWorkDayListResponse(2, QStringLiteral("Half day"));
        emit dbWorkDayListResponseEnd();
    });
}

void BenchService::dbCalEmpHistRequest(const QString &, int month, int year)
{
    answerLater(this, [this, month, year] {
        const QDate first(year, month, 1);
        emit dbCalEmpHistResponseBegin();
        emit dbCalEmpHistResponse(QStringLiteral("Shift A"), 0x0080C0FF, midnight(year, month, 1),
                                  midnight(year, month, 15));
        emit dbCalEmpHistResponse(QStringLiteral("Shift B"), 0x00FFC080, midnight(year, month, 15),
                                  midnight(year, month, first.daysInMonth()));
        emit dbCalEmpHistResponseEnd();
    });
}

void BenchService::dbExceptionEmpHistRequest(const QString &, int month, int year)
{
    answerLater(this, [this, month, year] {
        emit dbExceptionEmpHistResponseBegin();
        emit dbExceptionEmpHistResponse(QStringLiteral("Holiday"), 0x008080FF, midnight(year, month, 8));
        emit dbExceptionEmpHistResponseEnd();
    });
}

void BenchService::dbCalendarSetRequest(int, const QString &, const QDateTime &)
{
    answerLater(this, [this] { emit dbCalendarSetResponse(true, QString()); });
}

void BenchService::dbWorkDaySetRequest(int, const QString &, const QDateTime &)
{
    answerLater(this, [this] { emit dbWorkDaySetResponse(true, QString()); });
}
