// The month report's figures against months worked out by hand in Europe/Belgrade: October 2026
// ends summer time on the 25th at 03:00 (that night has 25 hours), March 2026 begins it on the
// 29th at 02:00 (that night has 23); both months hold a stay that crosses midnight.

#include "transfer/monthreport.h"

#include <QtTest>

using namespace vorna::transfer;

namespace {

MonthRegistration at(const char *civil, bool present)
{
    return {*parseCivilMoment(QString::fromLatin1(civil)), present};
}

const bool In = true;
const bool Out = false;

MonthInput october()
{
    MonthInput input;
    input.month = {2026, 10};
    input.registrations = {
        at("2026-09-30 22:00", In),  // carries into the month: 00:00-06:00 on the 1st, 6 h
        at("2026-10-01 06:00", Out),
        at("2026-10-05 08:00", In),  // 4 h
        at("2026-10-05 12:00", In),  // another present status (a business trip): 2 h
        at("2026-10-05 14:00", Out),
        at("2026-10-05 15:00", In),  // 2.5 h
        at("2026-10-05 17:30", Out),
        at("2026-10-24 22:00", In),  // across the night summer time ends: 8 h on the clock, 9 h real
        at("2026-10-25 06:00", Out),
        at("2026-10-31 20:00", In),  // cut at the month's end: 4 h
        at("2026-11-02 08:00", Out),
    };
    input.calendars = {{"Standard", QDate(2025, 1, 1)},
                       {"Shift work", QDate(2026, 10, 12)},
                       {"Standard", QDate(2026, 10, 26)},
                       {"Shift work", QDate(2026, 10, 26)}, // corrected the same day: changes nothing
                       {"Standard", QDate(2026, 11, 3)}};
    input.exceptions = {{QDate(2026, 10, 26), "Holiday"}, {QDate(2026, 10, 5), "Vacation"}, {QDate(2026, 11, 1), "Holiday"}};
    return input;
}

} // namespace

class TestMonthReport : public QObject
{
    Q_OBJECT

private slots:
    void octoberAcrossTheEndOfSummerTime();
    void marchAcrossTheStartOfSummerTime();
};

void TestMonthReport::octoberAcrossTheEndOfSummerTime()
{
    const QTimeZone belgrade("Europe/Belgrade");
    QVERIFY(belgrade.isValid());
    const MonthFigures figures = computeMonth(october(), belgrade);
    QCOMPARE(figures.daysPresent, 5); // the 1st, 5th, 24th, 25th and 31st
    QCOMPARE(figures.presentSeconds, qint64(27.5 * 3600));
    QCOMPARE(figures.presentHours(), QString("27.50"));
    QCOMPARE(figures.calendars, QString("Standard from 2025-01-01; Shift work from 2026-10-12"));
    QCOMPARE(figures.exceptions, QString("2026-10-05 Vacation; 2026-10-26 Holiday"));
    QCOMPARE(monthReportRow("E1", "Ilić", "Ana", "Prodaja", figures),
             QStringList({"E1", "Ilić", "Ana", "Prodaja", "5", "27.50", figures.calendars, figures.exceptions}));

    // While the month runs: the last stay counts until now, 20:00 to 22:15 on the 31st (CET).
    const QDateTime now(QDate(2026, 10, 31), QTime(22, 15), belgrade);
    QCOMPARE(computeMonth(october(), belgrade, now).presentHours(), QString("25.75"));
    // A "now" before the month counts nothing.
    QCOMPARE(computeMonth(october(), belgrade, now.addMonths(-2)).presentSeconds, qint64(0));
}

void TestMonthReport::marchAcrossTheStartOfSummerTime()
{
    MonthInput input;
    input.month = {2026, 3};
    input.registrations = {
        at("2026-03-28 22:00", In), // across the night summer time begins: 7 h real
        at("2026-03-29 06:00", Out),
        at("2026-03-02 09:00", In), // out of order on purpose; 10 minutes
        at("2026-03-02 09:10", Out),
    };
    const MonthFigures figures = computeMonth(input, QTimeZone("Europe/Belgrade"));
    QCOMPARE(figures.daysPresent, 3);
    QCOMPARE(figures.presentSeconds, qint64(7 * 3600 + 600));
    QCOMPARE(figures.presentHours(), QString("7.17")); // 7.1666... rounded half up
    QCOMPARE(figures.calendars, QString());
    QCOMPARE(figures.exceptions, QString());

    // 02:30 on the 29th never shows on a clock that is put forward; it is read as winter time,
    // so 23:00 to 02:30 lasts 3.5 h.
    input.registrations = {at("2026-03-28 23:00", In), at("2026-03-29 02:30", Out)};
    QCOMPARE(computeMonth(input, QTimeZone("Europe/Belgrade")).presentHours(), QString("3.50"));
}

QTEST_GUILESS_MAIN(TestMonthReport)
#include "tst_monthreport.moc"
