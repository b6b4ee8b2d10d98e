#pragma once
// Answers for the QML tests' service stand-in (ScriptedService), so that the list-page
// benchmark and its screenshots run the pages against it.
//
// The stand-in only records requests; this object listens to its record and answers every
// request except the presence request after the request has returned, as the real client
// does. Presence answers are emitted by the benchmark itself, which times them; the detail
// page's requests get a small fixed calendar so that the screenshots show a coloured month.

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>

class ScriptedService;

class CannedAnswers : public QObject
{
    Q_OBJECT

public:
    explicit CannedAnswers(ScriptedService *service);

private:
    void answer(const QString &request, const QVariantList &args);

    void answerCalendarList();
    void answerWorkDayList();
    void answerCalendarHistory(int month, int year);
    void answerExceptionHistory(int month, int year);

    ScriptedService *m_service;
    QHash<QString, std::function<void(const QVariantList &)>> m_answers;
};
