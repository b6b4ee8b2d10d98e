// The panel driver on a small scene of its own: it must act only where a person could, reach
// controls that lie out of sight, and say exactly what went wrong when it cannot.

#include "paneldriver.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardItemModel>
#include <QtTest>

class PanelDriverTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void clicksOnlyWhatAPersonCouldClick();
    void scrollsToAControlOutOfSight();
    void pressAndHoldIsNoClick();
    void typingReplacesTheTextAndReportsRefusals();
    void choosesAComboEntryBelowTheFold();
    void findsChildrenAndRows();
    void answersAMessageBoxInItsOwnWindow();
    void failedWaitsSayWhatTheyWaitedFor();

private:
    QQuickItem *item(const QString &expression);
    QVariant scene(const QString &expression);

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_scene = nullptr;
    std::unique_ptr<PanelDriver> m_driver;
};

void PanelDriverTest::init()
{
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->load(QUrl::fromLocalFile(QStringLiteral(DRIVER_SCENE)));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_scene = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    QVERIFY(m_scene);
    QVERIFY(QTest::qWaitForWindowExposed(m_scene));
    m_driver = std::make_unique<PanelDriver>();
}

void PanelDriverTest::cleanup()
{
    m_driver.reset();
    m_engine.reset();
    m_scene = nullptr;
}

QQuickItem *PanelDriverTest::item(const QString &expression)
{
    return m_driver->itemOf(m_scene, expression);
}

QVariant PanelDriverTest::scene(const QString &expression)
{
    return m_driver->evaluate(m_scene, expression);
}

void PanelDriverTest::clicksOnlyWhatAPersonCouldClick()
{
    QVERIFY2(m_driver->click(item(QStringLiteral("plainButton"))), qPrintable(m_driver->lastError()));
    QCOMPARE(scene(QStringLiteral("clicks")).toInt(), 1);

    QVERIFY(!m_driver->click(item(QStringLiteral("disabledButton"))));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("disabledButton"))
                 && m_driver->lastError().contains(QLatin1String("disabled")),
             qPrintable(m_driver->lastError()));
    QVERIFY(!m_driver->click(item(QStringLiteral("hiddenButton"))));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("hidden")), qPrintable(m_driver->lastError()));
    QVERIFY(!m_driver->click(item(QStringLiteral("noSuchButton"))));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("noSuchButton")), qPrintable(m_driver->lastError()));
    // Not an item at all: a number.
    QVERIFY(!item(QStringLiteral("clicks")));
    QCOMPARE(scene(QStringLiteral("clicks")).toInt(), 1);
}

void PanelDriverTest::scrollsToAControlOutOfSight()
{
    QCOMPARE(scene(QStringLiteral("flickable.contentY")).toReal(), 0.0);
    QVERIFY2(m_driver->click(item(QStringLiteral("lowButton"))), qPrintable(m_driver->lastError()));
    QCOMPARE(scene(QStringLiteral("lowClicks")).toInt(), 1);
    const qreal scrolled = scene(QStringLiteral("flickable.contentY")).toReal();
    QVERIFY(scrolled > 0);
    QVERIFY(scrolled <= 700 - 100);
}

void PanelDriverTest::pressAndHoldIsNoClick()
{
    QVERIFY2(m_driver->pressAndHold(item(QStringLiteral("plainButton"))), qPrintable(m_driver->lastError()));
    QCOMPARE(scene(QStringLiteral("holds")).toInt(), 1);
    QCOMPARE(scene(QStringLiteral("clicks")).toInt(), 0);
}

void PanelDriverTest::typingReplacesTheTextAndReportsRefusals()
{
    QQuickItem *field = item(QStringLiteral("digits"));
    QVERIFY2(m_driver->typeInto(field, QStringLiteral("123")), qPrintable(m_driver->lastError()));
    QCOMPARE(field->property("text").toString(), QStringLiteral("123"));
    QVERIFY(field->hasActiveFocus());

    // The validator takes the digits and drops the letter.
    QVERIFY(!m_driver->typeInto(field, QStringLiteral("12x")));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("\"12\"")), qPrintable(m_driver->lastError()));
}

void PanelDriverTest::choosesAComboEntryBelowTheFold()
{
    QQuickItem *combo = item(QStringLiteral("combo"));
    QVERIFY2(m_driver->chooseComboEntry(combo, 25), qPrintable(m_driver->lastError()));
    QCOMPARE(combo->property("currentIndex").toInt(), 25);
    QVERIFY(!combo->property("popup").value<QObject *>()->property("visible").toBool());

    QVERIFY(!m_driver->chooseComboEntry(combo, 30));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("30 entries")), qPrintable(m_driver->lastError()));
    QCOMPARE(combo->property("currentIndex").toInt(), 25);
}

void PanelDriverTest::findsChildrenAndRows()
{
    QQuickItem *cells = item(QStringLiteral("cells"));
    QQuickItem *fourth = m_driver->childWhere(cells, QStringLiteral("index === 3"));
    QVERIFY2(fourth, qPrintable(m_driver->lastError()));
    QCOMPARE(fourth->property("color").value<QColor>(), QColor(Qt::red));
    QVERIFY(!m_driver->childWhere(cells, QStringLiteral("index === 9")));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("index === 9")), qPrintable(m_driver->lastError()));

    QStandardItemModel model;
    model.setItemRoleNames({{Qt::UserRole + 1, "code"}});
    for (const char *code : {"a", "b", "c"}) {
        auto *row = new QStandardItem;
        row->setData(QString::fromLatin1(code), Qt::UserRole + 1);
        model.appendRow(row);
    }
    QCOMPARE(PanelDriver::findRow(&model, QStringLiteral("code"), QStringLiteral("b")), 1);
    QCOMPARE(PanelDriver::findRow(&model, QStringLiteral("code"), QStringLiteral("z")), -1);
    QCOMPARE(PanelDriver::findRow(&model, QStringLiteral("name"), QStringLiteral("b")), -1);
    QCOMPARE(PanelDriver::findRow(nullptr, QStringLiteral("code"), QStringLiteral("b")), -1);
}

void PanelDriverTest::answersAMessageBoxInItsOwnWindow()
{
    QObject *question = scene(QStringLiteral("question")).value<QObject *>();
    QVERIFY(question);
    scene(QStringLiteral("question.open()"));
    QVERIFY2(m_driver->answerDialog(question, QStringLiteral("No")), qPrintable(m_driver->lastError()));
    QCOMPARE(scene(QStringLiteral("answer")).toString(), QStringLiteral("no"));

    scene(QStringLiteral("question.open()"));
    QVERIFY(!m_driver->answerDialog(question, QStringLiteral("Maybe"), 500));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("\"Maybe\"")), qPrintable(m_driver->lastError()));
    QVERIFY2(m_driver->answerDialog(question, QStringLiteral("Yes")), qPrintable(m_driver->lastError()));
    QCOMPARE(scene(QStringLiteral("answer")).toString(), QStringLiteral("yes"));

    // Back in the scene, the keyboard reaches its field again.
    QVERIFY2(m_driver->typeInto(item(QStringLiteral("digits")), QStringLiteral("7")), qPrintable(m_driver->lastError()));
}

void PanelDriverTest::failedWaitsSayWhatTheyWaitedFor()
{
    QVERIFY(!m_driver->waitForTrue(m_scene, QStringLiteral("clicks > 100"), 200));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("clicks > 100")), qPrintable(m_driver->lastError()));
    QVERIFY(!m_driver->waitForTrue(m_scene, QStringLiteral("noSuchName"), 100));
    QVERIFY2(m_driver->lastError().contains(QLatin1String("noSuchName is not defined")), qPrintable(m_driver->lastError()));
    QVERIFY(m_driver->waitForTrue(m_scene, QStringLiteral("clicks === 0"), 100));
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    PanelDriverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_paneldriver.moc"
