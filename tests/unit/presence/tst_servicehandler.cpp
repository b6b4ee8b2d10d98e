// The service handler, driven by a scripted service client, through the real list, model,
// filter and picture store.

#include "empimage.h"
#include "empimageprovider.h"
#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "modelpresencelist.h"
#include "support/presencetestsupport.h"
#include "processrefs.h"
#include "servicehandler.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QTranslator>
#include <QtTest>

#include <memory>

using PresenceTest::row;

namespace {

// A Serbian-style time pattern for the handler's one translatable text, and nothing else.
class TimePatternTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        if (qstrcmp(context, "ServiceHandler") == 0 && qstrcmp(sourceText, "MM/dd/yyyy hh:mm") == 0
            && !disambiguation && n == -1)
            return QStringLiteral("dd.MM.yyyy. hh:mm");
        return QString();
    }
};

} // namespace

class TestServiceHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void burstReachesTheFilterInOrder();
    void rowIsInTheModelBeforeLaterListenersSeeIt();
    void beginEmptiesTheListBeforeThePictures();
    void emptyAnswerLogsBeginAndEnd();
    void rowFieldsAndTimeText();
    void invalidTimeEmptyPictureAndRepeatedIds();
    void rowsFollowTheFilterInForce();
    void timePatternFollowsTheLanguageWhenTheRowArrives();
    void noCurrentListIsNeverTouched();
    void secondBeginStartsOver();

private:
    QStringList shownIds() const;

    ScriptedPresenceService m_service;
    EmpImageProvider m_provider;
    EmpImage m_store;
    std::unique_ptr<ServiceHandler> m_handler;
    std::unique_ptr<ModelPresenceFilter> m_filter;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestServiceHandler::init()
{
    ProcessRefs::setServiceClient(&m_service);
    ProcessRefs::setPictureStore(&m_store);
    ProcessRefs::setImageProvider(&m_provider);
    m_provider.removeAllPictures();
    m_handler = std::make_unique<ServiceHandler>();
    m_filter = std::make_unique<ModelPresenceFilter>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
        m_filter.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void TestServiceHandler::cleanup()
{
    m_tester.reset();
    m_filter.reset();
    m_handler.reset();
}

QStringList TestServiceHandler::shownIds() const
{
    QStringList ids;
    for (int r = 0; r < m_filter->rowCount(); ++r)
        ids << m_filter->index(r, 0).data(ModelPresence::EmpIdRole).toString();
    return ids;
}

void TestServiceHandler::burstReachesTheFilterInOrder()
{
    QObject scope; // the connections below end with the test
    m_service.sendBurst(PresenceTest::rows(2));
    QStringList modelEvents;
    QStringList filterEvents;
    auto record = [](QStringList *events, const char *name) {
        return [events, name](const QModelIndex &, int first, int last) {
            *events << QStringLiteral("%1 %2-%3").arg(QLatin1String(name)).arg(first).arg(last);
        };
    };
    auto watch = [&](QAbstractItemModel *model, QStringList *events) {
        connect(model, &QAbstractItemModel::modelAboutToBeReset, &scope, [events] { *events << "aboutToReset"; });
        connect(model, &QAbstractItemModel::modelReset, &scope, [events] { *events << "reset"; });
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, &scope, record(events, "aboutToInsert"));
        connect(model, &QAbstractItemModel::rowsInserted, &scope, record(events, "inserted"));
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, &scope, record(events, "aboutToRemove"));
        connect(&m_service, &ScriptedPresenceService::dbPresenceResponseEnd, &scope, [events] { *events << "end"; });
    };
    watch(m_filter->presenceModel(), &modelEvents);
    watch(m_filter.get(), &filterEvents);

    m_service.sendBurst(PresenceTest::rows(4));

    // The model announces every row as it comes; the filter takes the whole answer in one
    // pass at its end, so a large answer costs linear work.
    QCOMPARE(modelEvents, (QStringList{"aboutToReset", "reset",
                                       "aboutToInsert 0-0", "inserted 0-0", "aboutToInsert 1-1", "inserted 1-1",
                                       "aboutToInsert 2-2", "inserted 2-2", "aboutToInsert 3-3", "inserted 3-3",
                                       "end"}));
    QCOMPARE(filterEvents, (QStringList{"aboutToReset", "reset", "aboutToInsert 0-3", "inserted 0-3", "end"}));
    QCOMPARE(shownIds(), (QStringList{"E0", "E1", "E2", "E3"}));
    QCOMPARE(m_provider.pictureCount(), 4);
}

void TestServiceHandler::rowIsInTheModelBeforeLaterListenersSeeIt()
{
    QObject scope; // the connections below end with the test
    // Connected after the handler, like the presence screen's handlers.
    QVector<int> rowsSeen;
    QVector<int> picturesSeen;
    QStringList lastIdSeen;
    const QAbstractItemModel *model = m_filter->presenceModel();
    connect(&m_service, &ScriptedPresenceService::dbPresenceResponseBegin, &scope, [&] {
        rowsSeen << model->rowCount();
        picturesSeen << m_provider.pictureCount();
    });
    connect(&m_service, &ScriptedPresenceService::dbPresenceResponse, &scope, [&] {
        rowsSeen << model->rowCount();
        picturesSeen << m_provider.pictureCount();
        lastIdSeen << model->index(model->rowCount() - 1, 0).data(ModelPresence::EmpIdRole).toString();
    });

    m_service.sendBurst(PresenceTest::rows(3));
    m_service.sendBurst(PresenceTest::rows(1));

    QCOMPARE(rowsSeen, (QVector<int>{0, 1, 2, 3, 0, 1}));
    QCOMPARE(picturesSeen, (QVector<int>{0, 1, 2, 3, 0, 1}));
    QCOMPARE(lastIdSeen, (QStringList{"E0", "E1", "E2", "E0"}));
}

void TestServiceHandler::beginEmptiesTheListBeforeThePictures()
{
    QObject scope; // the connections below end with the test
    m_service.sendBurst(PresenceTest::rows(3));
    int picturesWhenListEmptied = -1;
    connect(m_filter.get(), &QAbstractItemModel::modelReset, &scope, [&] { picturesWhenListEmptied = m_provider.pictureCount(); });

    emit m_service.dbPresenceResponseBegin();

    QCOMPARE(picturesWhenListEmptied, 3);
    QCOMPARE(m_provider.pictureCount(), 0);
    QCOMPARE(m_filter->rowCount(), 0);
}

void TestServiceHandler::emptyAnswerLogsBeginAndEnd()
{
    m_service.sendBurst(PresenceTest::rows(2));
    QSignalSpy log(m_handler.get(), &ServiceHandler::sigLogWrite);

    m_service.sendBurst({});

    QCOMPARE(m_filter->rowCount(), 0);
    QCOMPARE(m_filter->presenceModel()->list()->items().size(), 0);
    QCOMPARE(m_provider.pictureCount(), 0);
    QCOMPARE(log.count(), 2);

    const QRegularExpression record(QStringLiteral(R"(^(\w+) \[ServiceHandler::(\w+) : (.*servicehandler\.cpp) : (\d+)\]$)"));
    QStringList messages;
    for (const QList<QVariant> &args : log) {
        QCOMPARE(args.at(0).toInt(), 4);
        QCOMPARE(args.at(2).value<quintptr>(), reinterpret_cast<quintptr>(QThread::currentThread()));
        QCOMPARE(args.at(3).value<void *>(), static_cast<void *>(m_handler.get()));
        const QRegularExpressionMatch match = record.match(args.at(1).toString());
        QVERIFY2(match.hasMatch(), qPrintable(args.at(1).toString()));
        QCOMPARE(match.captured(2), match.captured(1));
        messages << match.captured(1);

        QFile source(QDir(QStringLiteral(VORNA_COMPILE_DIR)).filePath(match.captured(3)));
        QVERIFY2(source.open(QIODevice::ReadOnly), qPrintable(match.captured(3)));
        const QList<QByteArray> lines = source.readAll().split('\n');
        const int line = match.captured(4).toInt();
        QVERIFY(line >= 1 && line <= lines.size());
        QVERIFY2(lines.at(line - 1).contains(('"' + match.captured(1) + '"').toUtf8()), lines.at(line - 1).constData());
    }
    QCOMPARE(messages, (QStringList{"dbPresenceResponseBegin", "dbPresenceResponseEnd"}));
}

void TestServiceHandler::rowFieldsAndTimeText()
{
    ModelPresenceItem morning = row(0);
    morning.lastActDT = QDateTime(QDate(2024, 3, 7), QTime(9, 5, 59));
    morning.lastActDT2 = QStringLiteral("ignored");
    morning.picture = PresenceTest::picture(4, 4, Qt::red);
    ModelPresenceItem evening = row(1);
    evening.lastActDT = QDateTime(QDate(2023, 12, 31), QTime(21, 45), Qt::UTC);

    m_service.sendBurst({morning, evening});

    const QVector<ModelPresenceItem> items = m_filter->presenceModel()->list()->items();
    QCOMPARE(items.size(), 2);
    const ModelPresenceItem &stored = items.at(0);
    QCOMPARE(stored.idEmp, morning.idEmp);
    QCOMPARE(stored.lastName, morning.lastName);
    QCOMPARE(stored.firstName, morning.firstName);
    QCOMPARE(stored.lastActDT, morning.lastActDT);
    QCOMPARE(stored.lastActDT2, QStringLiteral("03/07/2024 09:05"));
    QCOMPARE(stored.old, morning.old);
    QCOMPARE(stored.lastActDesc, morning.lastActDesc);
    QCOMPARE(stored.department, morning.department);
    QCOMPARE(stored.picture, morning.picture);
    QCOMPARE(stored.presence, morning.presence);
    QCOMPARE(stored.actColor, morning.actColor);
    // Formatted in the time zone it came with: no shift to local time.
    QCOMPARE(items.at(1).lastActDT2, QStringLiteral("12/31/2023 21:45"));
    QCOMPARE(items.at(1).old, true);
}

void TestServiceHandler::invalidTimeEmptyPictureAndRepeatedIds()
{
    ModelPresenceItem noTime = row(QStringLiteral("7"), QStringLiteral("Ana"), {}, {}, {});
    noTime.lastActDT = QDateTime();
    noTime.picture = PresenceTest::picture(4, 4, Qt::red);
    ModelPresenceItem again = row(QStringLiteral("7"), QStringLiteral("Bojan"), {}, {}, {});
    again.picture = QByteArray();
    ModelPresenceItem blank;

    m_service.sendBurst({noTime, again, blank});

    const QVector<ModelPresenceItem> items = m_filter->presenceModel()->list()->items();
    QCOMPARE(items.size(), 3);
    QVERIFY(items.at(0).lastActDT2.isEmpty());
    QCOMPARE(items.at(1).lastName, QStringLiteral("Bojan"));
    QVERIFY(items.at(2).idEmp.isEmpty());
    // The repeated id keeps the later, empty picture, served as the placeholder.
    QCOMPARE(m_provider.pictureCount(), 2);
    const QImage image = m_provider.requestImage(QStringLiteral("7"), nullptr, QSize(4, 4));
    QVERIFY(PresenceTest::isTransparent(image));
}

void TestServiceHandler::rowsFollowTheFilterInForce()
{
    m_filter->setFilter(QStringLiteral("Absent"), QString());
    m_service.sendBurst(PresenceTest::rows(6));
    QCOMPARE(shownIds(), (QStringList{"E1", "E4"}));
    m_service.sendBurst(PresenceTest::rows(8));
    QCOMPARE(shownIds(), (QStringList{"E1", "E4", "E7"}));
}

void TestServiceHandler::timePatternFollowsTheLanguageWhenTheRowArrives()
{
    TimePatternTranslator translator;
    ModelPresenceItem item = row(0);
    item.lastActDT = QDateTime(QDate(2024, 3, 7), QTime(9, 5));

    emit m_service.dbPresenceResponseBegin();
    m_service.sendRow(item);
    QVERIFY(QCoreApplication::installTranslator(&translator));
    m_service.sendRow(item);
    QCoreApplication::removeTranslator(&translator);
    m_service.sendRow(item);
    emit m_service.dbPresenceResponseEnd();

    const QVector<ModelPresenceItem> items = m_filter->presenceModel()->list()->items();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items.at(0).lastActDT2, QStringLiteral("03/07/2024 09:05"));
    QCOMPARE(items.at(1).lastActDT2, QStringLiteral("07.03.2024. 09:05"));
    QCOMPARE(items.at(2).lastActDT2, QStringLiteral("03/07/2024 09:05"));
}

void TestServiceHandler::noCurrentListIsNeverTouched()
{
    QPointer<ModelPresenceList> gone = m_filter->presenceModel()->list();
    m_tester.reset();
    m_filter.reset();
    QVERIFY(gone.isNull());
    QCOMPARE(ProcessRefs::currentPresenceList(), nullptr);
    QSignalSpy log(m_handler.get(), &ServiceHandler::sigLogWrite);

    // The pictures still arrive; the list step is skipped.
    m_service.sendBurst(PresenceTest::rows(3));
    QCOMPARE(m_provider.pictureCount(), 3);
    QCOMPARE(log.count(), 2);

    // A screen created afterwards gets the next answer.
    init();
    m_service.sendBurst(PresenceTest::rows(2));
    QCOMPARE(shownIds(), (QStringList{"E0", "E1"}));
}

void TestServiceHandler::secondBeginStartsOver()
{
    emit m_service.dbPresenceResponseBegin();
    m_service.sendRow(row(0));
    m_service.sendRow(row(1));
    m_service.sendBurst({row(5)});
    QCOMPARE(shownIds(), QStringList{"E5"});
    QCOMPARE(m_provider.pictureCount(), 1);
}

QTEST_MAIN(TestServiceHandler)
#include "tst_servicehandler.moc"
