// The bounds of the request fields at their edges, and the quoting of client values in
// messages and log lines.

#include "rpc/requestbounds.h"

#include <QtTest>

using namespace vorna::service;
namespace v1 = vorna::v1;

class TestRequestBounds : public QObject
{
    Q_OBJECT

private slots:
    void idsAndNamesAtTheirLimits()
    {
        v1::MonthRequest month;
        month.set_month(3);
        month.set_year(2024);
        month.set_employee_id(std::string(bounds::MaxIdBytes, 'x'));
        QVERIFY(bounds::check(month).ok());
        month.set_employee_id(std::string(bounds::MaxIdBytes + 1, 'x'));
        QCOMPARE(bounds::check(month).error_code(), grpc::INVALID_ARGUMENT);

        // 200 two-byte characters fit; 201 do not.
        v1::LoginRequest login;
        login.set_password("p");
        login.set_user(QString(bounds::MaxNameChars, QChar(0x0161)).toStdString());
        QVERIFY(bounds::check(login).ok());
        login.set_user(QString(bounds::MaxNameChars + 1, QChar(0x0161)).toStdString());
        QCOMPARE(bounds::check(login).error_code(), grpc::INVALID_ARGUMENT);
        login.set_user("");
        QCOMPARE(bounds::check(login).error_code(), grpc::INVALID_ARGUMENT);

        v1::RegisterActivityRequest activity;
        activity.set_employee_id("E1");
        activity.set_request_id(std::string(bounds::MaxIdBytes, 'r'));
        QVERIFY(bounds::check(activity).ok());
        activity.set_request_id(std::string(bounds::MaxIdBytes + 1, 'r'));
        const grpc::Status tooLong = bounds::check(activity);
        QCOMPARE(tooLong.error_code(), grpc::INVALID_ARGUMENT);
        QVERIFY2(tooLong.error_message().find("request id") != std::string::npos, tooLong.error_message().c_str());
    }

    void momentsAndDaysWithinTheYears()
    {
        const qint64 first = QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
        const qint64 last = QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC).toSecsSinceEpoch();
        v1::RegisterActivityRequest activity;
        activity.set_employee_id("E1");
        for (const qint64 seconds : {first, qint64(0), last}) {
            activity.mutable_at()->set_seconds(seconds);
            QVERIFY2(bounds::check(activity).ok(), qPrintable(QString::number(seconds)));
        }
        for (const qint64 seconds : {first - 1, last + 1, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()}) {
            activity.mutable_at()->set_seconds(seconds);
            QCOMPARE(bounds::check(activity).error_code(), grpc::INVALID_ARGUMENT);
        }

        v1::SetWorkDayRequest workDay;
        workDay.set_employee_id("E1");
        const auto day = [&](int year, int month, int dayOfMonth) {
            workDay.mutable_day()->set_year(year);
            workDay.mutable_day()->set_month(month);
            workDay.mutable_day()->set_day(dayOfMonth);
            return bounds::check(workDay).ok();
        };
        QVERIFY(day(1900, 1, 1));
        QVERIFY(day(9999, 12, 31));
        QVERIFY(!day(1899, 12, 31));
        QVERIFY(!day(10000, 1, 1));
        QVERIFY(!day(2024, 13, 1));
        QVERIFY(!day(2024, 0, 1));
        QVERIFY(!day(2024, 1, 32));
        QVERIFY(!day(std::numeric_limits<int>::min(), 1, 1));
    }

    void quotedValuesAreShortAndPrintable()
    {
        QCOMPARE(bounds::quoted(QStringLiteral("E-17")), QStringLiteral("E-17"));
        const QString exact(bounds::MaxQuoted, QLatin1Char('a'));
        QCOMPARE(bounds::quoted(exact), exact);
        QCOMPARE(bounds::quoted(exact + QLatin1Char('b')), exact + QChar(0x2026));
        QCOMPARE(bounds::quoted(QStringLiteral("a\nb\x1b[2J\u202Ec")),
                 QStringLiteral("a\uFFFDb\uFFFD[2J\uFFFDc"));
        // A character outside the basic plane counts once and is never cut in half.
        const QString emoji = QString::fromUcs4(U"\U0001F600");
        const QString quoted = bounds::quoted(QString(bounds::MaxQuoted - 1, QLatin1Char('a')) + emoji + emoji);
        QVERIFY(quoted.endsWith(emoji + QChar(0x2026)));
    }
};

QTEST_GUILESS_MAIN(TestRequestBounds)
#include "tst_requestbounds.moc"
