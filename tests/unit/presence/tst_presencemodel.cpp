// The presence list and the list model over it.

#include "modelpresence.h"
#include "modelpresencelist.h"
#include "support/presencetestsupport.h"
#include "processrefs.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestPresenceModel : public QObject
{
    Q_OBJECT

private slots:
    void listAnnouncesAppendAroundTheChange();
    void listKeepsEmptyAndRepeatedRecords();
    void listDeleteAllAnnouncesEvenWhenEmpty();

    void modelInsertsOneRowAtTheEndPerAppend();
    void modelResetsWhenTheListEmpties();
    void modelRowCountIgnoresChildrenOfValidParents();
    void roleNamesAreTheElevenModelRoles();
    void dataReturnsEachFieldUnderItsRole_data();
    void dataReturnsEachFieldUnderItsRole();
    void dataRejectsOtherRolesAndRowsPastTheEnd();

    void newestModelOwnsTheCurrentList();

private:
    struct TestedModel
    {
        TestedModel()
            : model(new ModelPresence)
            , tester(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest)
        {
        }
        std::unique_ptr<ModelPresence> model;
        QAbstractItemModelTester tester;
    };
};

void TestPresenceModel::listAnnouncesAppendAroundTheChange()
{
    ModelPresenceList list;
    QVector<int> countsSeen;
    connect(&list, &ModelPresenceList::preItemAppend, [&] { countsSeen << list.items().size(); });
    connect(&list, &ModelPresenceList::postItemAppend, [&] { countsSeen << list.items().size(); });

    list.appendItem(PresenceTest::row(0));
    list.appendItem(PresenceTest::row(1));

    QCOMPARE(countsSeen, (QVector<int>{0, 1, 1, 2}));
    QCOMPARE(list.items().at(1).idEmp, QStringLiteral("E1"));
}

void TestPresenceModel::listKeepsEmptyAndRepeatedRecords()
{
    ModelPresenceList list;
    ModelPresenceItem first = PresenceTest::row(QStringLiteral("7"), QStringLiteral("Ana"), {}, {}, {});
    ModelPresenceItem second = PresenceTest::row(QStringLiteral("7"), QStringLiteral("Bojan"), {}, {}, {});
    list.appendItem(ModelPresenceItem());
    list.appendItem(first);
    list.appendItem(second);

    const QVector<ModelPresenceItem> items = list.items();
    QCOMPARE(items.size(), 3);
    QVERIFY(items.at(0).idEmp.isEmpty());
    QVERIFY(items.at(0).picture.isEmpty());
    QVERIFY(items.at(0).lastActDT.isNull());
    QCOMPARE(items.at(1).lastName, QStringLiteral("Ana"));
    QCOMPARE(items.at(2).lastName, QStringLiteral("Bojan"));
}

void TestPresenceModel::listDeleteAllAnnouncesEvenWhenEmpty()
{
    ModelPresenceList list;
    QStringList order;
    connect(&list, &ModelPresenceList::preItemDeleteAll, [&] { order << QStringLiteral("pre%1").arg(list.items().size()); });
    connect(&list, &ModelPresenceList::postItemDeleteAll, [&] { order << QStringLiteral("post%1").arg(list.items().size()); });

    list.deleteAllItems();
    list.appendItem(PresenceTest::row(0));
    list.appendItem(PresenceTest::row(1));
    list.deleteAllItems();

    QCOMPARE(order, (QStringList{"pre0", "post0", "pre2", "post0"}));
    QVERIFY(list.items().isEmpty());
}

void TestPresenceModel::modelInsertsOneRowAtTheEndPerAppend()
{
    TestedModel t;
    QCOMPARE(t.model->rowCount(), 0);
    QSignalSpy aboutToInsert(t.model.get(), &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(t.model.get(), &QAbstractItemModel::rowsInserted);

    for (int n = 0; n < 5; ++n)
        t.model->list()->appendItem(PresenceTest::row(n));

    QCOMPARE(aboutToInsert.count(), 5);
    QCOMPARE(inserted.count(), 5);
    QCOMPARE(aboutToInsert.at(0).at(1).toInt(), 0);
    QCOMPARE(aboutToInsert.at(0).at(2).toInt(), 0);
    QCOMPARE(aboutToInsert.at(4).at(1).toInt(), 4);
    QCOMPARE(aboutToInsert.at(4).at(2).toInt(), 4);
    QCOMPARE(inserted.at(4).at(1).toInt(), 4);
    QCOMPARE(t.model->rowCount(), 5);
    QCOMPARE(t.model->index(4).data(ModelPresence::EmpIdRole).toString(), QStringLiteral("E4"));
}

void TestPresenceModel::modelResetsWhenTheListEmpties()
{
    TestedModel t;
    QSignalSpy aboutToReset(t.model.get(), &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(t.model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy removed(t.model.get(), &QAbstractItemModel::rowsRemoved);

    t.model->list()->deleteAllItems();
    QCOMPARE(reset.count(), 1);

    t.model->list()->appendItem(PresenceTest::row(0));
    t.model->list()->appendItem(PresenceTest::row(1));
    t.model->list()->deleteAllItems();

    QCOMPARE(aboutToReset.count(), 2);
    QCOMPARE(reset.count(), 2);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(t.model->rowCount(), 0);
}

void TestPresenceModel::modelRowCountIgnoresChildrenOfValidParents()
{
    TestedModel t;
    t.model->list()->appendItem(PresenceTest::row(0));
    t.model->list()->appendItem(PresenceTest::row(1));
    QCOMPARE(t.model->rowCount(), 2);
    QCOMPARE(t.model->rowCount(t.model->index(0)), 0);
}

void TestPresenceModel::roleNamesAreTheElevenModelRoles()
{
    ModelPresence model;
    const QHash<int, QByteArray> expected{
        {256, "modelEmpId"}, {257, "modelLastName"}, {258, "modelFirstName"},
        {259, "modelLastActDT"}, {260, "modelLastActDT2"}, {261, "modelOldReg"},
        {262, "modelLastActDesc"}, {263, "modelDepartment"}, {264, "modelPicture"},
        {265, "modelPresence"}, {266, "modelColor"},
    };
    QCOMPARE(model.roleNames(), expected);
    QVERIFY(!model.roleNames().contains(Qt::DisplayRole));
}

void TestPresenceModel::dataReturnsEachFieldUnderItsRole_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("modelEmpId") << 256 << QVariant(QStringLiteral("0042"));
    QTest::newRow("modelLastName") << 257 << QVariant(QStringLiteral("Petrović"));
    QTest::newRow("modelFirstName") << 258 << QVariant(QStringLiteral("Đorđe"));
    QTest::newRow("modelLastActDT") << 259 << QVariant(QDateTime(QDate(2024, 2, 29), QTime(23, 59)));
    QTest::newRow("modelLastActDT2") << 260 << QVariant(QStringLiteral("02/29/2024 23:59"));
    QTest::newRow("modelOldReg") << 261 << QVariant(true);
    QTest::newRow("modelLastActDesc") << 262 << QVariant(QStringLiteral("Exit"));
    QTest::newRow("modelDepartment") << 263 << QVariant(QStringLiteral("Stores"));
    QTest::newRow("modelPicture") << 264 << QVariant(QByteArray("\x89PNG-bytes"));
    QTest::newRow("modelPresence") << 265 << QVariant(QStringLiteral("Absent"));
    QTest::newRow("modelColor") << 266 << QVariant(0x00336699);
}

void TestPresenceModel::dataReturnsEachFieldUnderItsRole()
{
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TestedModel t;
    ModelPresenceItem item;
    item.idEmp = QStringLiteral("0042");
    item.lastName = QStringLiteral("Petrović");
    item.firstName = QStringLiteral("Đorđe");
    item.lastActDT = QDateTime(QDate(2024, 2, 29), QTime(23, 59));
    item.lastActDT2 = QStringLiteral("02/29/2024 23:59");
    item.old = true;
    item.lastActDesc = QStringLiteral("Exit");
    item.department = QStringLiteral("Stores");
    item.picture = QByteArray("\x89PNG-bytes");
    item.presence = QStringLiteral("Absent");
    item.actColor = 0x00336699;
    t.model->list()->appendItem(PresenceTest::row(1));
    t.model->list()->appendItem(item);

    const QVariant value = t.model->index(1).data(role);
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);
}

void TestPresenceModel::dataRejectsOtherRolesAndRowsPastTheEnd()
{
    TestedModel t;
    t.model->list()->appendItem(PresenceTest::row(0));
    t.model->list()->appendItem(PresenceTest::row(1));
    const QModelIndex last = t.model->index(1);

    for (int role : {int(Qt::DisplayRole), int(Qt::DecorationRole), 255, 267})
        QVERIFY2(!last.data(role).isValid(), qPrintable(QStringLiteral("role %1").arg(role)));
    QVERIFY(!t.model->data(QModelIndex(), ModelPresence::EmpIdRole).isValid());

    // An index kept from before the list emptied points past the end now.
    t.model->list()->deleteAllItems();
    QVERIFY(last.isValid());
    QVERIFY(!t.model->data(last, ModelPresence::EmpIdRole).isValid());
}

void TestPresenceModel::newestModelOwnsTheCurrentList()
{
    auto first = std::make_unique<ModelPresence>();
    QCOMPARE(ProcessRefs::currentPresenceList(), first->list());
    QCOMPARE(first->list()->parent(), first.get());

    auto second = std::make_unique<ModelPresence>();
    QCOMPARE(ProcessRefs::currentPresenceList(), second->list());

    // An older model going away leaves the newest list current.
    first.reset();
    QCOMPARE(ProcessRefs::currentPresenceList(), second->list());

    second.reset();
    QCOMPARE(ProcessRefs::currentPresenceList(), nullptr);
}

QTEST_GUILESS_MAIN(TestPresenceModel)
#include "tst_presencemodel.moc"
