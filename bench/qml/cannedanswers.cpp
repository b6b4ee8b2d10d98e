#include "cannedanswers.h"

#include "support/scriptedservice.h"

#include <QDate>
#include <QDateTime>
#include <QTimer>

namespace {

QDateTime midnight(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(0, 0));
}

} // namespace

CannedAnswers::CannedAnswers(ScriptedService *service)
    : QObject(service), m_service(service)
{
    ScriptedService *s = service;
    m_answers = {
        { QStringLiteral("connectToServiceAsync"), [s](const QVariantList &) { emit s->connected(true, QString()); } },
        { QStringLiteral("disconnectFromService"), [s](const QVariantList &) { emit s->disconnected(); } },
        { QStringLiteral("dbLoginRequest"), [s](const QVariantList &) { emit s->dbLoginResponse(true); } },
        { QStringLiteral("dbCalendarListRequest"), [this](const QVariantList &) { answerCalendarList(); } },
        { QStringLiteral("dbWorkDayListRequest"), [this](const QVariantList &) { answerWorkDayList(); } },
        // Arguments: employee id, month 1 to 12, year.
        { QStringLiteral("dbCalEmpHistRequest"),
          [this](const QVariantList &args) { answerCalendarHistory(args.value(1).toInt(), args.value(2).toInt()); } },
        { QStringLiteral("dbExceptionEmpHistRequest"),
          [this](const QVariantList &args) { answerExceptionHistory(args.value(1).toInt(), args.value(2).toInt()); } },
        { QStringLiteral("dbCalendarSetRequest"), [s](const QVariantList &) { emit s->dbCalendarSetResponse(true, QString()); } },
        { QStringLiteral("dbWorkDaySetRequest"), [s](const QVariantList &) { emit s->dbWorkDaySetResponse(true, QString()); } },
    };
    connect(service, &ScriptedService::called, this, &CannedAnswers::answer);
}

// Answers arrive after the request has returned, as they do from the real client.
void CannedAnswers::answer(const QString &request, const QVariantList &args)
{
    const auto found = m_answers.constFind(request);
    if (found == m_answers.constEnd())
        return;  // the presence request: the benchmark emits its answer itself
    const auto reply = found.value();
    QTimer::singleShot(0, this, [reply, args] { reply(args); });
}

void CannedAnswers::answerCalendarList()
{
    emit m_service->dbCalendarListResponseBegin();
    emit m_service->dbCalendarListResponse(1, QStringLiteral("Shift A"));
    emit m_service->dbCalendarListResponse(2, QStringLiteral("Shift B"));
    emit m_service->dbCalendarListResponseEnd();
}

void CannedAnswers::answerWorkDayList()
{
    emit m_service->dbWorkDayListResponseBegin();
    emit m_service->dbWorkDayListResponse(1, QStringLiteral("Holiday"));
    emit m_service->dbWorkDayListResponse(2, QStringLiteral("Half day"));
    emit m_service->dbWorkDayListResponseEnd();
}

void CannedAnswers::answerCalendarHistory(int month, int year)
{
    const int lastDay = QDate(year, month, 1).daysInMonth();
    emit m_service->dbCalEmpHistResponseBegin();
    emit m_service->dbCalEmpHistResponse(QStringLiteral("Shift A"), 0x0080C0FF, midnight(year, month, 1),
                                         midnight(year, month, 15));
    emit m_service->dbCalEmpHistResponse(QStringLiteral("Shift B"), 0x00FFC080, midnight(year, month, 15),
                                         midnight(year, month, lastDay));
    emit m_service->dbCalEmpHistResponseEnd();
}

void CannedAnswers::answerExceptionHistory(int month, int year)
{
    emit m_service->dbExceptionEmpHistResponseBegin();
    emit m_service->dbExceptionEmpHistResponse(QStringLiteral("Holiday"), 0x008080FF, midnight(year, month, 8));
    emit m_service->dbExceptionEmpHistResponseEnd();
}
