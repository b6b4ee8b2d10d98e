// The presence filter: exact status match, upper-cased substring search over four fields.

#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "modelpresencelist.h"
#include "support/presencetestsupport.h"
#include "processrefs.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

using PresenceTest::row;

class TestPresenceFilter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyFiltersShowEveryRowInOrder();
    void presenceMatchesExactly();
    void searchIsCaseInsensitiveSubstringPerField_data();
    void searchIsCaseInsensitiveSubstringPerField();
    void searchUsesUpperCaseMappingNotCaseFolding_data();
    void searchUsesUpperCaseMappingNotCaseFolding();
    void everyCallResetsAndLogs();
    void textNeverMatchesAcrossTwoFields();
    void rowsArrivingLaterAreFilteredWithTheCurrentSettings();
    void newAnswerAtTheSameRowsIsSearchedAfresh();
    void readsItsOwnListWhenANewerScreenExists();
    void statusCountsFollowFirstOccurrence();

private:
    QStringList shownIds() const;
    void fill(const QVector<ModelPresenceItem> &items);

    std::unique_ptr<ModelPresenceFilter> m_filter;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestPresenceFilter::init()
{
    m_filter = std::make_unique<ModelPresenceFilter>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_filter.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestPresenceFilter::cleanup()
{
    m_tester.reset();
    m_filter.reset();
}

QStringList TestPresenceFilter::shownIds() const
{
    QStringList ids;
    for (int r = 0; r < m_filter->rowCount(); ++r)
        ids << m_filter->index(r, 0).data(ModelPresence::EmpIdRole).toString();
    return ids;
}

void TestPresenceFilter::fill(const QVector<ModelPresenceItem> &items)
{
    ModelPresenceList *list = m_filter->presenceModel()->list();
    list->deleteAllItems();
    for (const ModelPresenceItem &item : items)
        list->appendItem(item);
}

void TestPresenceFilter::emptyFiltersShowEveryRowInOrder()
{
    fill({row("3", "C", "", "", "In"), row("1", "A", "", "", "Out"), row("2", "B", "", "", "In")});
    QCOMPARE(shownIds(), (QStringList{"3", "1", "2"}));
    m_filter->setFilter(QString(), QString());
    QCOMPARE(shownIds(), (QStringList{"3", "1", "2"}));
}

void TestPresenceFilter::presenceMatchesExactly()
{
    fill({row("1", "Marković", "Ana", "Sales", "Present"),
          row("2", "Jovanović", "Ana", "Sales", "present"),
          row("3", "Ilić", "Ana", "Sales", "Present "),
          row("4", "Anić", "Marko", "Sales", "Absent")});

    m_filter->setFilter(QStringLiteral("Present"), QString());
    QCOMPARE(shownIds(), QStringList{"1"});

    // The name matches, the status does not.
    m_filter->setFilter(QStringLiteral("Absent"), QStringLiteral("an"));
    QCOMPARE(shownIds(), QStringList{"4"});
    m_filter->setFilter(QStringLiteral("Absent"), QStringLiteral("marković"));
    QCOMPARE(shownIds(), QStringList());
}

void TestPresenceFilter::searchIsCaseInsensitiveSubstringPerField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("lower case finds capitals") << "marković" << QStringList{"101"};
    QTest::newRow("upper case finds mixed case") << "JOVANOVIĆ" << QStringList{"205"};
    QTest::newRow("middle of a last name") << "ovan" << QStringList{"205"};
    QTest::newRow("digits in ids") << "10" << QStringList{"101", "310"};
    QTest::newRow("first name") << "jelena" << QStringList{"205"};
    QTest::newRow("department") << "logist" << QStringList{"310"};
    QTest::newRow("last and first name together") << "marković ana" << QStringList();
    QTest::newRow("a field holding the whole text") << "sales team" << QStringList{"101", "205"};
    QTest::newRow("activity description only") << "entry" << QStringList();
    QTest::newRow("presence text only") << "present" << QStringList();
    QTest::newRow("leading blank kept") << " marković" << QStringList();
}

void TestPresenceFilter::searchIsCaseInsensitiveSubstringPerField()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    fill({row("101", "MARKOVIĆ", "Ana", "Sales team", "Present"),
          row("205", "Jovanović", "Jelena", "Sales Team", "Present"),
          row("310", "Ilić", "Petar", "Logistics", "Present")});

    m_filter->setFilter(QString(), text);
    QCOMPARE(shownIds(), expected);
}

void TestPresenceFilter::searchUsesUpperCaseMappingNotCaseFolding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    // Fields: 1 "Petrović", 2 "Ilić" "ĐORĐE", 3 "straße", 4 "STRASSE", 5 "Ivan", 6 "Οδυσσέας".
    QTest::newRow("ć finds Petrović") << "vić" << QStringList{"1"};
    QTest::newRow("đ finds ĐORĐE") << "đorđe" << QStringList{"2"};
    QTest::newRow("c does not find ć") << "petrovic" << QStringList();
    // toUpper turns ß into SS, on both sides.
    QTest::newRow("ss finds straße") << "ss" << QStringList{"3", "4"};
    QTest::newRow("ß alone finds both") << "ß" << QStringList{"3", "4"};
    QTest::newRow("straße finds STRASSE") << "straße" << QStringList{"3", "4"};
    QTest::newRow("aßs finds nothing") << "aßs" << QStringList();
    // Dotless ı upper-cases to I; case folding would keep it apart from i.
    QTest::newRow("dotless i finds Ivan") << "ıvan" << QStringList{"5"};
    // Final sigma and sigma upper-case alike.
    QTest::newRow("final sigma") << "σσέας" << QStringList{"6"};
    QTest::newRow("long s") << "ſtra" << QStringList{"3", "4"};
}

void TestPresenceFilter::searchUsesUpperCaseMappingNotCaseFolding()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    fill({row("1", "Petrović", "Marko", "", "In"), row("2", "Ilić", "ĐORĐE", "", "In"),
          row("3", "", "", "straße", "In"), row("4", "STRASSE", "", "", "In"),
          row("5", "", "Ivan", "", "In"), row("6", "Οδυσσέας", "", "", "In")});

    m_filter->setFilter(QString(), text);
    QCOMPARE(shownIds(), expected);
}

void TestPresenceFilter::everyCallResetsAndLogs()
{
    fill({row(0), row(1)});
    QSignalSpy aboutToReset(m_filter.get(), &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(m_filter.get(), &QAbstractItemModel::modelReset);
    QSignalSpy log(m_filter.get(), &ModelPresenceFilter::sigLogWrite);

    m_filter->setFilter(QString(), QString());
    m_filter->setFilter(QStringLiteral("Absent"), QStringLiteral("Mar ko"));
    m_filter->setFilter(QStringLiteral("Absent"), QStringLiteral("Mar ko"));

    QCOMPARE(aboutToReset.count(), 3);
    QCOMPARE(reset.count(), 3);
    QCOMPARE(log.count(), 3);

    const QRegularExpression record(QStringLiteral(
        R"(^(.*) \[ModelPresenceFilter::setFilter : (.*modelpresencefilter\.cpp) : (\d+)\]$)"));
    const QRegularExpressionMatch empty = record.match(log.at(0).at(1).toString());
    QVERIFY2(empty.hasMatch(), qPrintable(log.at(0).at(1).toString()));
    QCOMPARE(empty.captured(1), QStringLiteral("Filter: presence='', name=''"));
    const QRegularExpressionMatch full = record.match(log.at(1).at(1).toString());
    QVERIFY(full.hasMatch());
    QCOMPARE(full.captured(1), QStringLiteral("Filter: presence='Absent', name='Mar ko'"));

    // The record names the line of the logging statement in the file the build compiled.
    QFile source(QDir(QStringLiteral(VORNA_COMPILE_DIR)).filePath(full.captured(2)));
    QVERIFY2(source.open(QIODevice::ReadOnly), qPrintable(full.captured(2)));
    const QList<QByteArray> lines = source.readAll().split('\n');
    const int line = full.captured(3).toInt();
    QVERIFY(line >= 1 && line <= lines.size());
    QVERIFY2(lines.at(line - 1).contains("VORNA_LOG("), lines.at(line - 1).constData());

    QCOMPARE(log.at(1).at(0).toInt(), 4);
    QCOMPARE(log.at(1).at(2).value<quintptr>(), reinterpret_cast<quintptr>(QThread::currentThread()));
    QCOMPARE(log.at(1).at(3).value<void *>(), static_cast<void *>(m_filter.get()));
}

void TestPresenceFilter::textNeverMatchesAcrossTwoFields()
{
    const QChar noncharacter(0xFFFF);
    fill({row("1", "AB", "CD", "", "In"), row("2", QString("X") + noncharacter + "Y", "", "", "In"),
          row("3", "AB", "", "CD", "In")});

    m_filter->setFilter(QString(), QString("b") + noncharacter + "c");
    QCOMPARE(shownIds(), QStringList());
    m_filter->setFilter(QString(), QString(noncharacter) + "y");
    QCOMPARE(shownIds(), QStringList{"2"});
    m_filter->setFilter(QString(), QStringLiteral("bc"));
    QCOMPARE(shownIds(), QStringList());
}

void TestPresenceFilter::rowsArrivingLaterAreFilteredWithTheCurrentSettings()
{
    // The first answer of a screen: no reset before its rows.
    m_filter->setFilter(QStringLiteral("Out"), QString());
    m_filter->presenceModel()->list()->appendItem(row("0", "Ana", "", "", "In"));
    m_filter->presenceModel()->list()->appendItem(row("9", "Ana", "", "", "Out"));
    QCOMPARE(shownIds(), QStringList{"9"});

    m_filter->setFilter(QStringLiteral("In"), QStringLiteral("an"));
    QSignalSpy inserted(m_filter.get(), &QAbstractItemModel::rowsInserted);

    fill({row("1", "Ana", "", "", "In"), row("2", "Ana", "", "", "Out"), row("3", "Bojan", "", "", "In"),
          row("4", "Zoran", "", "", "In"), row("5", "Vesna", "", "", "In")});

    QCOMPARE(shownIds(), (QStringList{"1", "3", "4"}));
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(inserted.at(2).at(1).toInt(), 2);
}

void TestPresenceFilter::newAnswerAtTheSameRowsIsSearchedAfresh()
{
    fill({row("1", "Ana", "", "", "In"), row("2", "Bojan", "", "", "In")});
    m_filter->setFilter(QString(), QStringLiteral("ana"));
    QCOMPARE(shownIds(), QStringList{"1"});

    // Same row numbers, different people: nothing of the old answer may linger.
    fill({row("7", "Zoran", "", "", "In"), row("8", "Anastasija", "", "", "In")});
    QCOMPARE(shownIds(), QStringList{"8"});
    m_filter->setFilter(QString(), QStringLiteral("zor"));
    QCOMPARE(shownIds(), QStringList{"7"});
}

void TestPresenceFilter::readsItsOwnListWhenANewerScreenExists()
{
    fill({row("1", "Ana", "", "", "In"), row("2", "Bojan", "", "", "In")});

    auto newer = std::make_unique<ModelPresenceFilter>();
    QCOMPARE(ProcessRefs::currentPresenceList(), newer->presenceModel()->list());
    newer->presenceModel()->list()->appendItem(row("9", "Zoran", "", "", "In"));

    m_filter->setFilter(QString(), QStringLiteral("bo"));
    QCOMPARE(shownIds(), QStringList{"2"});

    // Once the newer screen is gone no list is current, and this one still answers.
    newer.reset();
    QCOMPARE(ProcessRefs::currentPresenceList(), nullptr);
    m_filter->setFilter(QString(), QString());
    QCOMPARE(shownIds(), (QStringList{"1", "2"}));
}

void TestPresenceFilter::statusCountsFollowFirstOccurrence()
{
    const auto counts = [this] {
        QStringList entries;
        for (const QVariant &entry : m_filter->statusCounts())
            entries << entry.toMap().value("id").toString() + '=' + entry.toMap().value("count").toString();
        return entries;
    };
    QCOMPARE(counts(), QStringList());
    fill({row("1", "A", "", "", "Out"), row("2", "B", "", "", "In"), row("3", "C", "", "", "Out"),
          row("4", "D", "", "", ""), row("5", "E", "", "", "out")});
    m_filter->setFilter(QStringLiteral("In"), QString()); // counts every row, shown or not
    QCOMPARE(counts(), (QStringList{"Out=2", "In=1", "=1", "out=1"}));
    fill({row("6", "F", "", "", "In")}); // a new answer counts afresh
    QCOMPARE(counts(), QStringList{"In=1"});
}

QTEST_GUILESS_MAIN(TestPresenceFilter)
#include "tst_presencefilter.moc"
