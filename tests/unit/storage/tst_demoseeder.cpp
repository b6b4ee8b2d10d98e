// The demo organisation: what it holds, that it follows from the seed alone, that nothing lies
// in its future, and that it goes only into an empty database. Runs under a QCoreApplication,
// as the service does.

#include "support/storagefixture.h"

#include "demo/demonames.h"
#include "demo/demopicture.h"
#include "demo/demoseeder.h"

#include <QCryptographicHash>
#include <QImage>

using namespace vorna::service;

namespace {

const QDateTime demoNow(QDate(2024, 5, 15), QTime(10, 30), Qt::UTC); // a Wednesday

// How far apart two colours are, summed over the channels; JPEG blurs exact values.
int colourDistance(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

DemoOptions smallDemo(quint32 seed = 7)
{
    DemoOptions options;
    options.employees = 60;
    options.months = 2;
    options.seed = seed;
    options.now = demoNow;
    return options;
}

QVector<PresenceRow> presenceAt(Database &storage, const QDateTime &at)
{
    QVector<PresenceRow> rows;
    const StorageError error = storage.presence().presence(managerOfAll(), {at, 1, {}}, [&](const PresenceRow &row) { rows << row; });
    if (!error.ok())
        qWarning("%s", qPrintable(error.message));
    return rows;
}

// What a person would see of a row, pictures by digest.
QStringList describe(const QVector<PresenceRow> &rows)
{
    QStringList lines;
    for (const PresenceRow &r : rows)
        lines << QStringList{r.employeeId, r.lastName, r.firstName, r.department, r.lastActivity.toString(Qt::ISODate),
                             r.activityDescription, r.status, QString::number(r.stale),
                             QString::fromLatin1(r.pictureDigest.toHex())}
                     .join(QLatin1Char('|'));
    return lines;
}

} // namespace

class TestDemoSeeder : public StorageTestCase
{
    Q_OBJECT

private slots:

    void seedsABelievableOrganisation();
    void nothingLiesInTheDemosFuture();
    void calendarsAndExceptionsAreAssigned();
    void sameSeedSameOrganisation();
    void seedsOnlyAnEmptyDatabase();
    void seedInOneTransactionIsAllOrNothing();
    void badOptionsAreRefused();
    void picturesAreSmallPortraits();
    void fullNamesAreUniqueAndPortraitsFitThem();

};

// The seed in one write transaction of its own.
StorageError seedDemo(Database &db, const DemoOptions &options, const Progress &progress = {},
                      DemoSummary *summary = nullptr)
{
    return db.write(QStringLiteral("seed the demo"), [&](Transaction &tx) {
        return DemoSeeder(db.organisation(), db.calendars()).seed(tx, options, progress, summary);
    });
}

void TestDemoSeeder::seedsABelievableOrganisation()
{
    QStringList phases;
    qint64 lastEmployeesDone = -1;
    DemoSummary summary;
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo(), [&](const QString &phase, qint64 done, qint64 total) {
        if (phases.isEmpty() || phases.last() != phase)
            phases << phase;
        if (phase == QLatin1String("employees")) {
            QCOMPARE(total, qint64(60));
            QVERIFY(done >= lastEmployeesDone);
            lastEmployeesDone = done;
        }
    }, &summary));
    QCOMPARE(phases, QStringList({"reference data", "employees", "assignments"}));
    QCOMPARE(lastEmployeesDone, qint64(60));
    QCOMPARE(summary.employees, 60);
    QCOMPARE(summary.departments, 8);
    // About 33 working days of three or four registrations for most employees.
    QVERIFY2(summary.registrations > 60 * 33 * 2 && summary.registrations < 60 * 33 * 5,
             qPrintable(QString::number(summary.registrations)));

    Database &s = m_fixture.storage();
    QCOMPARE(s.organisation().departments().value().size(), 8);
    QCOMPARE(s.organisation().calendars().value().first().name, QStringLiteral("Standard 8-16"));
    QCOMPARE(s.organisation().workDayKinds().value().first().name, QStringLiteral("Holiday"));
    QCOMPARE(s.organisation().activityKinds().value().first().name, QStringLiteral("Arrival"));

    const QVector<PresenceRow> rows = presenceAt(s, demoNow);
    QCOMPARE(rows.size(), 60);
    QHash<QString, int> statuses;
    int stale = 0;
    int serbian = 0;
    QSet<QByteArray> digests;
    for (const PresenceRow &r : rows) {
        ++statuses[r.status];
        stale += r.stale ? 1 : 0;
        serbian += r.lastName.endsWith(QStringLiteral("ić")) ? 1 : 0;
        digests.insert(r.pictureDigest);
        QVERIFY(!r.picture.isEmpty());
    }
    // A working Wednesday morning: most are in, someone has not come, someone is new.
    QVERIFY2(statuses.value(QStringLiteral("Present")) + statuses.value(QStringLiteral("On break")) > 30,
             qPrintable(QStringList(statuses.keys()).join(',')));
    QVERIFY(statuses.value(QStringLiteral("No registration")) >= 1);
    QVERIFY(stale >= 1);
    QVERIFY(serbian > 30 && serbian < 60);
    QCOMPARE(digests.size(), 60);
}

void TestDemoSeeder::nothingLiesInTheDemosFuture()
{
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo()));
    const QVector<PresenceRow> now = presenceAt(m_fixture.storage(), demoNow);
    const QVector<PresenceRow> later = presenceAt(m_fixture.storage(), demoNow.addYears(1));
    QCOMPARE(describe(later).replaceInStrings(QStringLiteral("|1|"), QStringLiteral("|0|")),
             describe(now).replaceInStrings(QStringLiteral("|1|"), QStringLiteral("|0|")));
    for (const PresenceRow &r : now) {
        if (r.lastActivity.isValid()) {
            QVERIFY(r.lastActivity <= demoNow);
            QVERIFY(r.lastActivity.date() >= QDate(2024, 4, 1));
            QVERIFY2(r.lastActivity.date().dayOfWeek() <= 5, qPrintable(r.lastActivity.toString()));
        }
    }
}

void TestDemoSeeder::calendarsAndExceptionsAreAssigned()
{
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo()));
    Database &s = m_fixture.storage();
    QVector<CalendarRange> ranges;
    STORAGE_OK(takeInto(ranges, s.calendars().calendarHistory(QStringLiteral("0001"), 2024, 5)));
    QVERIFY(!ranges.isEmpty());
    QCOMPARE(ranges.first().validBegin, QDateTime(QDate(2024, 5, 1), QTime(0, 0), Qt::UTC));
    QCOMPARE(ranges.last().validEnd, QDateTime(QDate(2024, 5, 31), QTime(0, 0), Qt::UTC));
    // Nothing before the demo starts.
    STORAGE_OK(takeInto(ranges, s.calendars().calendarHistory(QStringLiteral("0001"), 2024, 3)));
    QVERIFY(ranges.isEmpty());

    // 1 and 2 May are public holidays on working days.
    QVector<ExceptionDay> days;
    STORAGE_OK(takeInto(days, s.calendars().exceptionHistory(QStringLiteral("0001"), 2024, 5)));
    QVERIFY(days.size() >= 2);
    QCOMPARE(days.at(0).day, QDate(2024, 5, 1));
    QCOMPARE(days.at(0).dayName, QStringLiteral("Holiday"));
    QCOMPARE(days.at(1).day, QDate(2024, 5, 2));

    const QVector<AuditEntry> audit = s.calendars().auditLog(QStringLiteral("0001")).value();
    QVERIFY(!audit.isEmpty());
    QCOMPARE(audit.first().userName, QStringLiteral("demo"));
    QCOMPARE(audit.first().action, QStringLiteral("calendar"));
}

void TestDemoSeeder::sameSeedSameOrganisation()
{
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo(7)));
    const QStringList first = describe(presenceAt(m_fixture.storage(), demoNow));
    QVector<CalendarRange> firstRanges;
    STORAGE_OK(takeInto(firstRanges, m_fixture.storage().calendars().calendarHistory(QStringLiteral("0042"), 2024, 4)));

    QFETCH_GLOBAL(QString, engine);
    QString reason;
    QCOMPARE(m_fixture.setUp(engine, true, &reason), StorageFixture::Ready);
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo(7)));
    QCOMPARE(describe(presenceAt(m_fixture.storage(), demoNow)), first);
    QVector<CalendarRange> againRanges;
    STORAGE_OK(takeInto(againRanges, m_fixture.storage().calendars().calendarHistory(QStringLiteral("0042"), 2024, 4)));
    QCOMPARE(againRanges.size(), firstRanges.size());
    for (int i = 0; i < againRanges.size(); ++i) {
        QCOMPARE(againRanges.at(i).calendarName, firstRanges.at(i).calendarName);
        QCOMPARE(againRanges.at(i).validBegin, firstRanges.at(i).validBegin);
    }

    QCOMPARE(m_fixture.setUp(engine, true, &reason), StorageFixture::Ready);
    STORAGE_OK(seedDemo(m_fixture.storage(), smallDemo(8)));
    QVERIFY(describe(presenceAt(m_fixture.storage(), demoNow)) != first);
}

void TestDemoSeeder::seedsOnlyAnEmptyDatabase()
{
    DemoOptions options = smallDemo();
    options.employees = 5;
    STORAGE_OK(seedDemo(m_fixture.storage(), options));
    const StorageError again = seedDemo(m_fixture.storage(), options);
    QCOMPARE(again.code, StorageError::AlreadyExists);
    QVERIFY2(again.message.contains(QLatin1String("already holds an organisation (8 departments)")),
             qPrintable(again.message));
    QCOMPARE(presenceAt(m_fixture.storage(), demoNow).size(), 5);
}

// What the demo command does: the whole seed joins one transaction, so a seed that stops
// part-way keeps nothing.
void TestDemoSeeder::seedInOneTransactionIsAllOrNothing()
{
    Database &s = m_fixture.storage();
    DemoOptions options = smallDemo();
    options.employees = 5;
    const StorageError stopped = s.write(QStringLiteral("seed"), [&](Transaction &tx) {
        const StorageError seeded = DemoSeeder(s.organisation(), s.calendars()).seed(tx, options);
        return seeded.ok() ? StorageError{StorageError::Unavailable, QStringLiteral("Stopped part-way.")} : seeded;
    });
    QCOMPARE(stopped.message, QStringLiteral("Stopped part-way."));
    QVERIFY(s.organisation().departments().value().isEmpty());
    QVERIFY(!s.organisation().findEmployee(QStringLiteral("0001")));
    QVERIFY(s.calendars().auditLog().value().isEmpty());

    STORAGE_OK(seedDemo(s, options));
    QCOMPARE(presenceAt(s, demoNow).size(), 5);
}

void TestDemoSeeder::badOptionsAreRefused()
{
    for (const auto &[employees, months] : {std::pair{0, 3}, std::pair{100001, 3}, std::pair{10, 0}, std::pair{10, 25}}) {
        DemoOptions options = smallDemo();
        options.employees = employees;
        options.months = months;
        const StorageError error = seedDemo(m_fixture.storage(), options);
        QCOMPARE(error.code, StorageError::InvalidArgument);
        QVERIFY2(error.message.startsWith(QLatin1String("The demo can")), qPrintable(error.message));
    }
    QVERIFY(m_fixture.storage().organisation().departments().value().isEmpty());
}

void TestDemoSeeder::picturesAreSmallPortraits()
{
    QSet<QByteArray> distinct;
    for (quint32 seed = 1; seed <= 20; ++seed) {
        QRandomGenerator random(seed);
        const DemoPicture::Hair hair = seed % 2 ? DemoPicture::Hair::Long : DemoPicture::Hair::Short;
        const QByteArray jpeg = DemoPicture::make(random, hair);
        QVERIFY2(jpeg.size() > 1000 && jpeg.size() < 15000, qPrintable(QString::number(jpeg.size())));
        QVERIFY(jpeg.startsWith("\xFF\xD8"));
        const QImage image = QImage::fromData(jpeg, "JPG");
        QCOMPARE(image.size(), QSize(DemoPicture::side, DemoPicture::side));
        // A figure on a background: the corner and the middle of the chest differ.
        QVERIFY(image.pixelColor(2, 2) != image.pixelColor(80, 150));
        // Beside the neck, long hair covers the background; short hair leaves it bare.
        QCOMPARE(colourDistance(image.pixelColor(2, 2), image.pixelColor(52, 90)) > 40, hair == DemoPicture::Hair::Long);
        distinct.insert(QCryptographicHash::hash(jpeg, QCryptographicHash::Sha256));
        QRandomGenerator same(seed);
        QCOMPARE(DemoPicture::make(same, hair), jpeg);
    }
    QVERIFY(distinct.size() >= 18);
}

void TestDemoSeeder::fullNamesAreUniqueAndPortraitsFitThem()
{
    DemoOptions options = smallDemo();
    const int capacity = demonames::serbian.size() + demonames::english.size();
    options.employees = capacity + 400; // more than the name pools hold, so names come round again
    const DemoPlan plan(options);
    QSet<QString> fullNames;
    int female = 0;
    int withInitial = 0;
    for (int i = 0; i < options.employees; ++i) {
        const DemoEmployee e = plan.employee(i);
        const QString fullName = e.lastName + QLatin1Char(' ') + e.firstName;
        QVERIFY2(!fullNames.contains(fullName), qPrintable(fullName + QStringLiteral(" comes twice")));
        fullNames.insert(fullName);
        const bool initial = e.firstName.endsWith(QLatin1Char('.'));
        withInitial += initial ? 1 : 0;
        female += e.female ? 1 : 0;
        QCOMPARE(plan.employee(i).firstName, e.firstName); // the same options give the same names
    }
    // Initials only once every plain full name is taken.
    QCOMPARE(withInitial, options.employees - capacity);
    QVERIFY2(female > options.employees / 3 && female < options.employees * 2 / 3, qPrintable(QString::number(female)));
    const DemoEmployee other = DemoPlan(smallDemo(8)).employee(0);
    QVERIFY2(other.lastName + other.firstName != plan.employee(0).lastName + plan.employee(0).firstName,
             "another seed gives other names");

    // A woman's portrait has long hair beside the neck, a man's does not.
    for (int i = 0; i < 40; ++i) {
        const DemoEmployee e = plan.employee(i);
        const QImage image = QImage::fromData(plan.picture(e), "JPG");
        const bool hairBesideNeck = colourDistance(image.pixelColor(2, 2), image.pixelColor(52, 90)) > 40;
        QVERIFY2(hairBesideNeck == e.female, qPrintable(e.firstName));
    }
}

QTEST_GUILESS_MAIN(TestDemoSeeder)
#include "tst_demoseeder.moc"
