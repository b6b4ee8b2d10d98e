// The real panel against a real vorna-service: a manager logs in, finds an employee through
// the status and text filters, assigns a calendar and an exception on the detail page, and
// goes back to the login page. What the screens show is compared with what the service's
// database holds, read through the service's own storage library.
//
// The test functions are one story and run in order; each starts where the previous one left
// the panel. A failing step saves the window as failure-<function>.png in the working folder.
// The live list is also seen across two service instances on one PostgreSQL database when
// VORNA_TEST_PG names a server where the user may create databases (tools/pg-throwaway.sh).

#include "commservice.grpc.pb.h"
#include "paneldriver.h"
#include "panelsteps.h"
#include "support/servicerunner.h"
#include "storage/database.h"
#include "storage/sqldialect.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>

#include <memory>

using namespace vorna::service;
using vorna::testing::ServiceRunner;

namespace {

constexpr int DemoEmployees = 60;
constexpr int ServiceTimeoutMs = 120000;

const LoginValues Manager{QStringLiteral("127.0.0.1"), QString(), QStringLiteral("manager"),
                          QStringLiteral("vorna-demo")};

// The service's colours are 0x00BBGGRR.
QColor serviceColor(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// The panel's date-times are local wall-clock readings; the service's are the same readings
// marked UTC.
QDateTime civil(const QDateTime &local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

// Runs one statement on the PostgreSQL server `server` names; false with `problem`.
bool runOnPostgres(const QString &server, const QString &sql, QString *problem)
{
    QProcess psql;
    psql.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                        QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), server,
                                        QStringLiteral("-c"), sql});
    if (psql.waitForFinished(ServiceTimeoutMs) && psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0)
        return true;
    *problem = QStringLiteral("psql could not run \"%1\": %2 %3")
                   .arg(sql, psql.errorString(), QString::fromUtf8(psql.readAllStandardError()).trimmed());
    return false;
}

bool matchesSearch(const PresenceRow &row, const QString &text)
{
    const QString wanted = text.toUpper();
    for (const QString &field : {row.employeeId, row.lastName, row.firstName, row.department}) {
        if (field.toUpper().contains(wanted))
            return true;
    }
    return false;
}

} // namespace

class PanelEndToEndTest : public QObject
{
    Q_OBJECT

public:
    PanelEndToEndTest();

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void refusesWrongPassword();
    void logsIn();
    void listsEveryEmployeeOfTheMoment();
    void filtersByStatus();
    void filtersByText();
    void opensEmployee();
    void assignsCalendarFromHeldDay();
    void assignsExceptionToHeldDay();
    void showsATerminalsRegistrationWithoutAKey_data();
    void showsATerminalsRegistrationWithoutAKey();
    void backButtonReturnsToLoginAndDisconnects();

private:
    // The names of one kind of assignment on the detail page.
    struct Assignment
    {
        QString entries;     // the page's list of choices
        QString label;       // what the day information shows for the held day
        QString monthModel;  // the page's copy of the month's history
        QString nameRole;
        bool (PanelSteps::*assign)(const QDate &, int);
    };
    // Assigns the first choice other than the one in force to the held day, waits for the
    // reloaded month to show it, and gives its name and the day the page's history holds.
    void assignOtherEntry(const Assignment &assignment, QString *assigned, QVariant *shownDay);
    void checkHeldDayColor(int color);
    // The newest of the audit entries written since the detail page opened.
    void checkNewestAudit(int count, const QString &action, const QString &value);
    QAbstractItemModel *listModel();
    QStringList shownEmployeeIds();
    QVariant page(const QString &expression);
    // Waits until `expression` on the page on top reads `expected`.
    bool pageShows(const QString &expression, const QString &expected);
    // The first entry of a page's ListModel whose `role` differs from `current`.
    int firstEntryOtherThan(const QString &model, const QString &role, const QString &current);
    QList<AuditEntry> newAuditEntries();
    QVariantList monthEntries(const QString &model, const QString &role);
    // A demo database on the PostgreSQL server of VORNA_TEST_PG, served by two instances.
    bool startInstancesOnPostgres(QString *problem);
    void stopInstancesOnPostgres();

    QTemporaryDir m_dir;
    QString m_database;
    ServiceRunner m_service;
    std::unique_ptr<Database> m_storage;
    User m_manager;
    std::unique_ptr<PanelDriver> m_driver;
    std::unique_ptr<PanelSteps> m_steps;

    // What the storage reports for the list page's moment, in its order.
    QVector<PresenceRow> m_rows;
    PresenceRow m_employee;
    QDate m_day;
    int m_auditBefore = 0;

    QString m_pgDatabase;
    std::unique_ptr<ServiceRunner> m_instanceA;
    std::unique_ptr<ServiceRunner> m_instanceB;
    std::unique_ptr<Database> m_pgStorage;
};

PanelEndToEndTest::PanelEndToEndTest() = default;

void PanelEndToEndTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_database = m_dir.filePath(QStringLiteral("demo.db"));
    m_service.setDatabase(m_database);
    QVERIFY2(m_service.seed(DemoEmployees), qPrintable(m_service.error()));
    QVERIFY2(m_service.start({}, ServiceTimeoutMs), qPrintable(m_service.error()));

    StorageError error;
    Result<std::unique_ptr<Database>> opened = Database::open(m_database);
    error = opened.error();
    m_storage = opened.take();
    QVERIFY2(m_storage, qPrintable(error.message));
    const Result<User> manager = m_storage->accounts().findUser(Manager.user);
    QVERIFY2(manager, "The demo has no user \"manager\".");
    m_manager = *manager;

    m_driver = std::make_unique<PanelDriver>();
    m_steps = std::make_unique<PanelSteps>(*m_driver);
    // English and the light theme, as a user who chose them on the Settings page.
    QVERIFY2(m_driver->start({{QStringLiteral("sLang"), 0}, {QStringLiteral("sTheme"), 1}}),
             qPrintable(m_driver->lastError()));
    QCOMPARE(m_steps->currentPageName(), QStringLiteral("PageLogin"));
}

void PanelEndToEndTest::cleanup()
{
    if (!QTest::currentTestFailed() || !m_driver || !m_driver->window())
        return;
    const QString picture = QStringLiteral("failure-%1.png").arg(QString::fromLatin1(QTest::currentTestFunction()));
    if (m_driver->grabTo(picture))
        qInfo("The window at the failure: %s", qPrintable(QFileInfo(picture).absoluteFilePath()));
    qInfo("The service's log so far:\n%s", qPrintable(m_service.log()));
    if (m_instanceA && m_instanceB)
        qInfo("Instance A's log:\n%s\nInstance B's log:\n%s", qPrintable(m_instanceA->log()), qPrintable(m_instanceB->log()));
}

void PanelEndToEndTest::cleanupTestCase()
{
    m_steps.reset();
    m_driver.reset();
    m_storage.reset();
    m_service.terminate();
    stopInstancesOnPostgres();
}

bool PanelEndToEndTest::startInstancesOnPostgres(QString *problem)
{
    const QString server = qEnvironmentVariable("VORNA_TEST_PG");
    m_pgDatabase = QStringLiteral("vorna_e2e_panel_%1").arg(QCoreApplication::applicationPid());
    if (!runOnPostgres(server, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgDatabase), problem)
        || !runOnPostgres(server, QStringLiteral("CREATE DATABASE %1").arg(m_pgDatabase), problem))
        return false;
    const QString location = postgresLocationWithDatabase(server, m_pgDatabase, problem);
    if (location.isEmpty())
        return false;
    m_instanceA = std::make_unique<ServiceRunner>(location);
    m_instanceB = std::make_unique<ServiceRunner>(location);
    const bool serving = m_instanceA->seed(DemoEmployees) && m_instanceA->start({}, ServiceTimeoutMs)
                         && m_instanceB->start({}, ServiceTimeoutMs);
    if (!serving) {
        *problem = m_instanceA->error() + m_instanceB->error();
        return false;
    }
    Result<std::unique_ptr<Database>> opened = Database::open(location);
    *problem = opened.error().message;
    m_pgStorage = opened.take();
    return m_pgStorage != nullptr;
}

void PanelEndToEndTest::stopInstancesOnPostgres()
{
    m_pgStorage.reset();
    m_instanceA.reset();
    m_instanceB.reset();
    QString problem;
    if (!m_pgDatabase.isEmpty()
        && !runOnPostgres(qEnvironmentVariable("VORNA_TEST_PG"),
                          QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgDatabase), &problem))
        qWarning("%s", qPrintable(problem));
}

// ---- Helpers --------------------------------------------------------------------------------

QVariant PanelEndToEndTest::page(const QString &expression)
{
    return m_driver->evaluateInPage(expression);
}

bool PanelEndToEndTest::pageShows(const QString &expression, const QString &expected)
{
    return m_driver->waitFor([&] { return page(expression).toString() == expected; },
                             QStringLiteral("%1 to read \"%2\" (it reads \"%3\")")
                                 .arg(expression, expected, page(expression).toString()));
}

QAbstractItemModel *PanelEndToEndTest::listModel()
{
    return qobject_cast<QAbstractItemModel *>(page(QStringLiteral("listView.model")).value<QObject *>());
}

QStringList PanelEndToEndTest::shownEmployeeIds()
{
    QStringList ids;
    const QAbstractItemModel *model = listModel();
    if (!model)
        return ids;
    const int idRole = model->roleNames().key("modelEmpId");
    for (int row = 0; row < model->rowCount(); ++row)
        ids << model->data(model->index(row, 0), idRole).toString();
    return ids;
}

int PanelEndToEndTest::firstEntryOtherThan(const QString &model, const QString &role, const QString &current)
{
    const int count = page(model + QStringLiteral(".count")).toInt();
    for (int entry = 0; entry < count; ++entry) {
        if (page(QStringLiteral("%1.get(%2).%3").arg(model).arg(entry).arg(role)).toString() != current)
            return entry;
    }
    return -1;
}

QVariantList PanelEndToEndTest::monthEntries(const QString &model, const QString &role)
{
    QVariantList values;
    const int count = page(model + QStringLiteral(".count")).toInt();
    for (int entry = 0; entry < count; ++entry)
        values << page(QStringLiteral("%1.get(%2).%3").arg(model).arg(entry).arg(role));
    return values;
}

QList<AuditEntry> PanelEndToEndTest::newAuditEntries()
{
    const QVector<AuditEntry> all = m_storage->calendars().auditLog(m_employee.employeeId).value();
    QList<AuditEntry> entries(all.cbegin(), all.cend());
    std::sort(entries.begin(), entries.end(), [](const AuditEntry &a, const AuditEntry &b) { return a.id < b.id; });
    return entries.mid(m_auditBefore);
}

// ---- The story ------------------------------------------------------------------------------

void PanelEndToEndTest::refusesWrongPassword()
{
    LoginValues wrong = Manager;
    wrong.port = QString::number(m_service.port());
    wrong.password = QStringLiteral("not-the-password");
    QVERIFY2(m_steps->fillLogin(wrong), qPrintable(m_driver->lastError()));
    QVERIFY2(m_driver->click(m_driver->pageItem(QStringLiteral("buttonConnect"))), qPrintable(m_driver->lastError()));

    QObject *dialog = page(QStringLiteral("msgDialog")).value<QObject *>();
    QVERIFY(dialog);
    QVERIFY2(m_driver->waitFor([dialog] { return dialog->property("visible").toBool(); },
                               QStringLiteral("the error message")),
             qPrintable(m_driver->lastError()));
    QCOMPARE(dialog->property("text").toString(), QStringLiteral("Bad username and/or password."));
    QVERIFY2(m_driver->answerDialog(dialog, QStringLiteral("OK")), qPrintable(m_driver->lastError()));
    QCOMPARE(m_steps->currentPageName(), QStringLiteral("PageLogin"));
    QCOMPARE(m_driver->stackDepth(), 1);
    QCOMPARE(page(QStringLiteral("connecting")).toBool(), false);
}

void PanelEndToEndTest::logsIn()
{
    LoginValues values = Manager;
    values.port = QString::number(m_service.port());
    QVERIFY2(m_steps->logIn(values), qPrintable(m_driver->lastError()));
    QCOMPARE(page(QStringLiteral("userName")).toString(), Manager.user);
    QCOMPARE(m_driver->stackDepth(), 2);
    // The list page is on top and idle: the tool bar offers the reload.
    QVERIFY(m_driver->windowItem(QStringLiteral("tbRefresh"))->isVisible());
}

void PanelEndToEndTest::listsEveryEmployeeOfTheMoment()
{
    QCOMPARE(m_steps->currentPageName(), QStringLiteral("PageList"));
    const QDateTime moment = page(QStringLiteral("buttonDateTime.datetime")).toDateTime();
    QVERIFY(moment.isValid());
    PresenceQuery query;
    query.at = civil(moment);
    const StorageError error = m_storage->presence().presence(m_manager, query, [this](const PresenceRow &row) { m_rows << row; });
    QVERIFY2(error.ok(), qPrintable(error.message));
    QCOMPARE(m_rows.size(), DemoEmployees);

    QStringList expectedIds;
    for (const PresenceRow &row : qAsConst(m_rows))
        expectedIds << row.employeeId;
    QCOMPARE(page(QStringLiteral("listView.count")).toInt(), m_rows.size());
    QCOMPARE(shownEmployeeIds(), expectedIds);
    QCOMPARE(page(QStringLiteral("comboBoxFilter.displayText")).toString(),
             QStringLiteral("All (%1)").arg(m_rows.size()));

    // The first row as a person reads it.
    QQuickItem *firstRow = m_driver->listRow(m_driver->pageItem(QStringLiteral("listView")), 0);
    QVERIFY2(firstRow, qPrintable(m_driver->lastError()));
    const PresenceRow &first = m_rows.constFirst();
    const QString name = QStringLiteral("%1 %2 %3").arg(first.lastName, first.firstName, first.employeeId);
    const QList<QQuickItem *> nameLabels = PanelDriver::itemsUnder(firstRow, [&name](QQuickItem *item) {
        return item->property("text").toString() == name;
    });
    QCOMPARE(nameLabels.size(), 1);
}

void PanelEndToEndTest::filtersByStatus()
{
    QVERIFY(!m_rows.isEmpty());
    QMap<QString, int> perStatus;
    for (const PresenceRow &row : qAsConst(m_rows))
        ++perStatus[row.status];
    QVERIFY2(perStatus.size() > 1, "The demo's employees all share one status; nothing to filter.");
    // The largest status that still leaves others out.
    QString status;
    for (auto it = perStatus.cbegin(); it != perStatus.cend(); ++it) {
        if (status.isEmpty() || it.value() > perStatus.value(status))
            status = it.key();
    }

    const auto *choices = qobject_cast<QAbstractItemModel *>(page(QStringLiteral("comboBoxFilter.model")).value<QObject *>());
    const int entry = PanelDriver::findRow(choices, QStringLiteral("id"), status);
    QVERIFY2(entry > 0, qPrintable(QStringLiteral("The status box offers no \"%1\".").arg(status)));
    QVERIFY2(m_driver->chooseComboEntry(m_driver->pageItem(QStringLiteral("comboBoxFilter")), entry),
             qPrintable(m_driver->lastError()));

    QStringList expectedIds;
    for (const PresenceRow &row : qAsConst(m_rows)) {
        if (row.status == status)
            expectedIds << row.employeeId;
    }
    QCOMPARE(shownEmployeeIds(), expectedIds);
    QCOMPARE(page(QStringLiteral("comboBoxFilter.displayText")).toString(),
             QStringLiteral("%1 (%2)").arg(status).arg(expectedIds.size()));
}

void PanelEndToEndTest::filtersByText()
{
    // Back to every status, then search for a part of one employee's last name.
    QVERIFY2(m_driver->chooseComboEntry(m_driver->pageItem(QStringLiteral("comboBoxFilter")), 0),
             qPrintable(m_driver->lastError()));
    QCOMPARE(shownEmployeeIds().size(), m_rows.size());

    const auto withActivity = std::find_if(m_rows.cbegin(), m_rows.cend(), [](const PresenceRow &row) {
        return row.lastActivity.isValid() && row.lastName.size() >= 4;
    });
    QVERIFY2(withActivity != m_rows.cend(), "No demo employee has a registration to open the detail page on.");
    m_employee = *withActivity;
    const QString search = m_employee.lastName.mid(1, 3).toLower();

    QVERIFY2(m_driver->click(m_driver->pageItem(QStringLiteral("buttonSearch"))), qPrintable(m_driver->lastError()));
    QVERIFY2(m_driver->waitForTrue(m_driver->currentPage(), QStringLiteral("rowSearch.visible")),
             qPrintable(m_driver->lastError()));
    QVERIFY2(m_driver->typeInto(m_driver->pageItem(QStringLiteral("tfFilter")), search), qPrintable(m_driver->lastError()));
    m_driver->pressKey(Qt::Key_Return);

    QStringList expectedIds;
    for (const PresenceRow &row : qAsConst(m_rows)) {
        if (matchesSearch(row, search))
            expectedIds << row.employeeId;
    }
    QVERIFY(expectedIds.contains(m_employee.employeeId));
    QVERIFY2(m_driver->waitFor([&] { return shownEmployeeIds() == expectedIds; },
                               QStringLiteral("the rows matching \"%1\"").arg(search)),
             qPrintable(QStringLiteral("%1 Shown: %2; expected: %3")
                            .arg(m_driver->lastError(), shownEmployeeIds().join(QLatin1Char(',')),
                                 expectedIds.join(QLatin1Char(',')))));
}

void PanelEndToEndTest::opensEmployee()
{
    QVERIFY(!m_employee.employeeId.isEmpty());
    QVERIFY2(m_steps->openEmployee(m_employee.employeeId), qPrintable(m_driver->lastError()));
    QCOMPARE(page(QStringLiteral("empId")).toString(), m_employee.employeeId);
    QCOMPARE(page(QStringLiteral("lastName")).toString(), m_employee.lastName);
    QCOMPARE(page(QStringLiteral("department")).toString(), m_employee.department);
    QCOMPARE(page(QStringLiteral("presence")).toString(), m_employee.status);

    // The page opens on the day of the last activity.
    m_day = m_employee.lastActivity.date();
    QCOMPARE(page(QStringLiteral("monthGrid.month")).toInt() + 1, m_day.month());
    QCOMPARE(page(QStringLiteral("monthGrid.year")).toInt(), m_day.year());
    QCOMPARE(page(QStringLiteral("labelDay.text")).toString(), m_day.toString(QStringLiteral("MM/dd/yyyy")));
    m_auditBefore = m_storage->calendars().auditLog(m_employee.employeeId).value().size();
}

void PanelEndToEndTest::assignOtherEntry(const Assignment &assignment, QString *assigned, QVariant *shownDay)
{
    QVERIFY(m_day.isValid());
    const QString before = page(assignment.label).toString();
    const int entry = firstEntryOtherThan(assignment.entries, QStringLiteral("name"), before);
    QVERIFY2(entry >= 0, qPrintable(QStringLiteral("%1 offers nothing but \"%2\".").arg(assignment.entries, before)));
    *assigned = page(QStringLiteral("%1.get(%2).name").arg(assignment.entries).arg(entry)).toString();

    QVERIFY2(((*m_steps).*assignment.assign)(m_day, entry), qPrintable(m_driver->lastError()));
    // The page reloads the month after the answer; the name below the grid follows.
    QVERIFY2(pageShows(assignment.label, *assigned), qPrintable(m_driver->lastError()));
    QVERIFY2(m_steps->waitForMonth(), qPrintable(m_driver->lastError()));

    const QVariantList names = monthEntries(assignment.monthModel, assignment.nameRole);
    const int shown = names.indexOf(*assigned);
    QVERIFY2(shown >= 0, qPrintable(QStringLiteral("%1 on the page lacks \"%2\".").arg(assignment.monthModel, *assigned)));
    *shownDay = monthEntries(assignment.monthModel, QStringLiteral("validBegin")).at(shown);
}

void PanelEndToEndTest::checkHeldDayColor(int color)
{
    QQuickItem *cell = m_steps->dayCell(m_day);
    QVERIFY2(cell, qPrintable(m_driver->lastError()));
    QCOMPARE(cell->property("color").value<QColor>(), serviceColor(color));
}

void PanelEndToEndTest::checkNewestAudit(int count, const QString &action, const QString &value)
{
    const QList<AuditEntry> audit = newAuditEntries();
    QCOMPARE(audit.size(), count);
    const AuditEntry &newest = audit.constLast();
    QCOMPARE(newest.action, action);
    QCOMPARE(newest.userName, Manager.user);
    QCOMPARE(newest.employeeId, m_employee.employeeId);
    QCOMPARE(newest.day, m_day);
    QCOMPARE(newest.newValue, value);
}

void PanelEndToEndTest::assignsCalendarFromHeldDay()
{
    static const Assignment calendarAssignment{QStringLiteral("modelCalendarCombo"), QStringLiteral("labelCurrentCalendar.text"),
                                               QStringLiteral("modelMonthCalData"), QStringLiteral("calName"),
                                               &PanelSteps::assignCalendar};
    QString calendar;
    QVariant shownBegin;
    assignOtherEntry(calendarAssignment, &calendar, &shownBegin);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(shownBegin.toDateTime(), QDateTime(m_day, QTime(0, 0)));

    const QVector<Calendar> calendars = m_storage->organisation().calendars().value();
    const auto kind = std::find_if(calendars.cbegin(), calendars.cend(), [&](const Calendar &c) { return c.name == calendar; });
    QVERIFY(kind != calendars.cend());
    checkHeldDayColor(kind->color);
    if (QTest::currentTestFailed())
        return;

    QVector<CalendarRange> ranges;
    const Result<QVector<CalendarRange>> history = m_storage->calendars().calendarHistory(m_employee.employeeId, m_day.year(), m_day.month());
    const StorageError error = history.error();
    ranges = history.value();
    QVERIFY2(error.ok(), qPrintable(error.message));
    const bool stored = std::any_of(ranges.cbegin(), ranges.cend(), [&](const CalendarRange &range) {
        return range.calendarName == calendar && range.validBegin == QDateTime(m_day, QTime(0, 0), Qt::UTC);
    });
    QVERIFY2(stored, "The service's database holds no assignment of the calendar from the held day.");
    checkNewestAudit(1, QStringLiteral("calendar"), calendar);
}

void PanelEndToEndTest::assignsExceptionToHeldDay()
{
    static const Assignment exceptionAssignment{QStringLiteral("modelWorkDayCombo"), QStringLiteral("labelCurrentException.text"),
                                                QStringLiteral("modelMonthExceptionData"), QStringLiteral("dayName"),
                                                &PanelSteps::assignException};
    QString workDay;
    QVariant shownDay;
    assignOtherEntry(exceptionAssignment, &workDay, &shownDay);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(shownDay.toString(), m_day.toString(Qt::ISODate));

    // The exception's colour wins over the calendar's.
    const QVector<WorkDayKind> kinds = m_storage->organisation().workDayKinds().value();
    const auto kind = std::find_if(kinds.cbegin(), kinds.cend(), [&](const WorkDayKind &k) { return k.name == workDay; });
    QVERIFY(kind != kinds.cend());
    checkHeldDayColor(kind->color);
    if (QTest::currentTestFailed())
        return;

    QVector<ExceptionDay> exceptions;
    const Result<QVector<ExceptionDay>> history = m_storage->calendars().exceptionHistory(m_employee.employeeId, m_day.year(), m_day.month());
    const StorageError error = history.error();
    exceptions = history.value();
    QVERIFY2(error.ok(), qPrintable(error.message));
    const bool stored = std::any_of(exceptions.cbegin(), exceptions.cend(), [&](const ExceptionDay &day) {
        return day.dayName == workDay && day.day == m_day;
    });
    QVERIFY2(stored, "The service's database holds no exception on the held day.");
    checkNewestAudit(2, QStringLiteral("workday"), workDay);
}

void PanelEndToEndTest::showsATerminalsRegistrationWithoutAKey_data()
{
    QTest::addColumn<bool>("acrossInstances");
    QTest::newRow("the terminal at the panel's service") << false;
    QTest::newRow("the terminal at another instance on one PostgreSQL") << true;
}

void PanelEndToEndTest::showsATerminalsRegistrationWithoutAKey()
{
    QFETCH(bool, acrossInstances);
    Database *storage = m_storage.get();
    quint16 terminalPort = m_service.port();
    if (!acrossInstances) {
        // From the detail page back to the list, still logged in.
        QSignalSpy disconnected(m_driver->serviceClient(), SIGNAL(disconnected()));
        QVERIFY(disconnected.isValid());
        QVERIFY2(m_steps->goBack(), qPrintable(m_driver->lastError()));
        QVERIFY2(m_steps->waitForPage(QStringLiteral("PageList")), qPrintable(m_driver->lastError()));
        QCOMPARE(m_driver->stackDepth(), 2);
        QCOMPARE(disconnected.count(), 0);
    } else {
        if (qEnvironmentVariableIsEmpty("VORNA_TEST_PG"))
            QSKIP("VORNA_TEST_PG is not set; the two instances run where it names a PostgreSQL server.");
        QString problem;
        QVERIFY2(startInstancesOnPostgres(&problem), qPrintable(problem));
        // The panel leaves the SQLite service for instance A; the terminal calls instance B.
        QVERIFY2(m_steps->goBack(), qPrintable(m_driver->lastError()));
        QVERIFY2(m_steps->waitForPage(QStringLiteral("PageLogin")), qPrintable(m_driver->lastError()));
        LoginValues values = Manager;
        values.port = QString::number(m_instanceA->port());
        QVERIFY2(m_steps->logIn(values), qPrintable(m_driver->lastError()));
        storage = m_pgStorage.get();
        terminalPort = m_instanceB->port();
    }
    QVERIFY(page(QStringLiteral("live")).toBool());

    // A clocking terminal registers an activity for the first listed employee, one that differs
    // from what the row shows now.
    const QAbstractItemModel *model = listModel();
    QVERIFY(model && model->rowCount() > 0);
    const QString employee = model->data(model->index(0, 0), model->roleNames().key("modelEmpId")).toString();
    const auto shownActivity = [this, employee] {
        const QAbstractItemModel *shown = listModel();
        const int idRole = shown->roleNames().key("modelEmpId");
        const int activityRole = shown->roleNames().key("modelLastActDesc");
        for (int row = 0; row < shown->rowCount(); ++row) {
            if (shown->data(shown->index(row, 0), idRole).toString() == employee)
                return shown->data(shown->index(row, 0), activityRole).toString();
        }
        return QString();
    };
    const QString before = shownActivity();
    const QVector<ActivityKind> kinds = storage->organisation().activityKinds().value();
    const auto other = std::find_if(kinds.begin(), kinds.end(), [&](const ActivityKind &k) { return k.name != before; });
    QVERIFY(other != kinds.end());
    const QByteArray token = "e2e-panel-gate-token";
    QVERIFY(storage->accounts().addTerminal({0, QStringLiteral("e2e-panel-gate"),
                                    QCryptographicHash::hash(token, QCryptographicHash::Sha256),
                                    QDateTime::currentDateTimeUtc()}).ok());
    auto terminal = vorna::v1::CommService::NewStub(grpc::CreateChannel(
        QStringLiteral("127.0.0.1:%1").arg(terminalPort).toStdString(), grpc::InsecureChannelCredentials()));
    vorna::v1::RegisterActivityRequest request;
    request.set_employee_id(employee.toStdString());
    request.set_activity_kind_id(other->id);
    vorna::v1::RegisterActivityReply reply;
    grpc::ClientContext context;
    context.AddMetadata("vorna-device", token.toStdString());
    const grpc::Status registered = terminal->RegisterActivity(&context, request, &reply);
    QVERIFY2(registered.ok(), registered.error_message().c_str());

    // No key, no click: the live list follows.
    QVERIFY2(m_driver->waitFor([&] { return shownActivity() == other->name; },
                               QStringLiteral("the row of %1 to show %2").arg(employee, other->name)),
             qPrintable(m_driver->lastError()));
    QVERIFY(!page(QStringLiteral("busyRunning")).toBool());
}

void PanelEndToEndTest::backButtonReturnsToLoginAndDisconnects()
{
    QSignalSpy disconnected(m_driver->serviceClient(), SIGNAL(disconnected()));
    QVERIFY(disconnected.isValid());
    QCOMPARE(m_steps->currentPageName(), QStringLiteral("PageList"));

    QVERIFY2(m_steps->goBack(), qPrintable(m_driver->lastError()));
    QVERIFY2(m_driver->waitFor([&] { return disconnected.count() > 0; }, QStringLiteral("the disconnection")),
             qPrintable(m_driver->lastError()));
    QVERIFY2(m_steps->waitForPage(QStringLiteral("PageLogin")), qPrintable(m_driver->lastError()));
    QCOMPARE(m_driver->stackDepth(), 1);
    QVERIFY(m_driver->windowItem(QStringLiteral("tbMenu"))->isVisible());
    QVERIFY(!m_steps->backButton()->isVisible());
    // The fields stay as they were, ready for the next connection.
    QCOMPARE(page(QStringLiteral("user")).toString(), Manager.user);
}

int main(int argc, char *argv[])
{
    QTemporaryDir panelHome;
    PanelDriver::prepareProcess(panelHome.path());
    QGuiApplication app(argc, argv);
    PanelEndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_panelendtoend.moc"
