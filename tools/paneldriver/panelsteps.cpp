#include "panelsteps.h"

#include "paneldriver.h"

#include <QAbstractItemModel>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

// Loads from the service: a presence list of a few thousand rows, a month's history.
constexpr int LoadTimeoutMs = 30000;

} // namespace

struct PanelSteps::AssignmentControls
{
    QString menuItem;
    QString popup;
    QString comboBox;
    QString assignButton;
    QString confirmation;
    QString busyFlag;
};

PanelSteps::PanelSteps(PanelDriver &driver)
    : m_driver(driver)
{
}

QString PanelSteps::currentPageName()
{
    QQuickItem *page = m_driver.currentPage();
    if (!page)
        return QString();
    // Objects made from a QML file carry its name: "PageList_QMLTYPE_12".
    return QString::fromLatin1(page->metaObject()->className()).section(QStringLiteral("_QMLTYPE"), 0, 0);
}

bool PanelSteps::waitForPage(const QString &pageName)
{
    if (!m_driver.waitFor([this, &pageName] { return currentPageName() == pageName; },
                          QStringLiteral("the page %1 (on top: %2)").arg(pageName, currentPageName())))
        return false;
    return m_driver.settle();
}

bool PanelSteps::waitForPageTrue(const QString &expression, int timeoutMs)
{
    return m_driver.waitForTrue(m_driver.currentPage(), expression, timeoutMs);
}

bool PanelSteps::fillLogin(const LoginValues &values)
{
    if (currentPageName() != QLatin1String("PageLogin"))
        return m_driver.fail(QStringLiteral("The login page is not on top (%1 is).").arg(currentPageName()));
    return m_driver.typeInto(m_driver.pageItem(QStringLiteral("textFieldServer")), values.server)
        && m_driver.typeInto(m_driver.pageItem(QStringLiteral("textFieldPort")), values.port)
        && m_driver.typeInto(m_driver.pageItem(QStringLiteral("textFieldUser")), values.user)
        && m_driver.typeInto(m_driver.pageItem(QStringLiteral("textFieldPassword")), values.password);
}

bool PanelSteps::logIn(const LoginValues &values)
{
    return fillLogin(values)
        && m_driver.click(m_driver.pageItem(QStringLiteral("buttonConnect")))
        && waitForPage(QStringLiteral("PageList"))
        && waitForPresence();
}

bool PanelSteps::waitForPresence()
{
    return waitForPageTrue(QStringLiteral("!busyRunning"), LoadTimeoutMs) && m_driver.settle();
}

bool PanelSteps::openEmployee(const QString &employeeId)
{
    QQuickItem *list = m_driver.pageItem(QStringLiteral("listView"));
    if (!list)
        return false;
    const auto *model = qobject_cast<const QAbstractItemModel *>(list->property("model").value<QObject *>());
    const int row = PanelDriver::findRow(model, QStringLiteral("modelEmpId"), employeeId);
    if (row < 0)
        return m_driver.fail(QStringLiteral("The presence list holds no row of employee %1.").arg(employeeId));
    return m_driver.click(m_driver.listRow(list, row))
        && waitForPage(QStringLiteral("PageDetail"))
        && waitForMonth();
}

bool PanelSteps::waitForMonth()
{
    return waitForPageTrue(QStringLiteral("allowCalChange && !busyCalendar && !busyWorkDay"), LoadTimeoutMs)
        && m_driver.settle();
}

QQuickItem *PanelSteps::dayCell(const QDate &day)
{
    QQuickItem *grid = m_driver.pageItem(QStringLiteral("monthGrid.contentItem"));
    // The grid's cells also show the ends of the months around; only the month's own count.
    return m_driver.childWhere(grid, QStringLiteral("model.year === %1 && model.month === %2 && model.day === %3")
                                         .arg(day.year()).arg(day.month() - 1).arg(day.day()));
}

bool PanelSteps::assignCalendar(const QDate &day, int entryIndex)
{
    static const AssignmentControls controls{
        QStringLiteral("miAssignCalendar"), QStringLiteral("popupAssignCalendar"),
        QStringLiteral("comboBoxCalendar"), QStringLiteral("buttonCalendarSet"),
        QStringLiteral("dlgConfirmationCalendar"), QStringLiteral("busyCalendar")};
    return assign(controls, day, entryIndex);
}

bool PanelSteps::assignException(const QDate &day, int entryIndex)
{
    static const AssignmentControls controls{
        QStringLiteral("miAssignException"), QStringLiteral("popupAssignException"),
        QStringLiteral("comboBoxWorkDay"), QStringLiteral("buttonWorkDaySet"),
        QStringLiteral("dlgConfirmationWorkDay"), QStringLiteral("busyWorkDay")};
    return assign(controls, day, entryIndex);
}

bool PanelSteps::assign(const AssignmentControls &controls, const QDate &day, int entryIndex)
{
    if (!m_driver.pressAndHold(dayCell(day))
        || !waitForPageTrue(QStringLiteral("menuAssign.opened"), PanelDriver::DefaultTimeoutMs)
        || !m_driver.click(m_driver.pageItem(controls.menuItem))
        || !waitForPageTrue(controls.popup + QStringLiteral(".opened"), PanelDriver::DefaultTimeoutMs)
        || !m_driver.chooseComboEntry(m_driver.pageItem(controls.comboBox), entryIndex)
        || !m_driver.click(m_driver.pageItem(controls.assignButton)))
        return false;
    QObject *page = m_driver.currentPage();
    const QVariant confirmation = m_driver.evaluate(page, controls.confirmation);
    // The popup closes and the busy flag rises on Yes; the flag falls when the answer is in.
    return m_driver.answerDialog(confirmation.value<QObject *>(), QStringLiteral("Yes"))
        && waitForPageTrue(QStringLiteral("!%1.visible && !%2").arg(controls.popup, controls.busyFlag),
                           LoadTimeoutMs);
}

bool PanelSteps::chooseMenuItem(const QString &itemId)
{
    return m_driver.click(m_driver.windowItem(QStringLiteral("tbMenu")))
        && m_driver.waitForTrue(m_driver.window(), QStringLiteral("menu.opened"))
        && m_driver.click(m_driver.windowItem(itemId))
        && m_driver.settle();
}

QQuickItem *PanelSteps::backButton()
{
    QQuickItem *header = m_driver.windowItem(QStringLiteral("appWindow.header"));
    // The first of the tool bar's buttons, left of the title.
    const QList<QQuickItem *> buttons = PanelDriver::itemsUnder(header, [](QQuickItem *item) {
        return item->inherits("QQuickToolButton");
    });
    if (buttons.isEmpty()) {
        m_driver.fail(QStringLiteral("The tool bar has no buttons."));
        return nullptr;
    }
    return buttons.constFirst();
}

bool PanelSteps::goBack()
{
    return m_driver.click(backButton()) && m_driver.settle();
}

bool PanelSteps::parkPointer()
{
    // The title takes all the width between the buttons, so the bar's middle is on it.
    return m_driver.hover(m_driver.windowItem(QStringLiteral("appWindow.header")));
}

bool PanelSteps::openDateTimePicker()
{
    QQuickItem *searchToggle = m_driver.pageItem(QStringLiteral("buttonSearch"));
    if (!searchToggle)
        return false;
    if (!searchToggle->property("checked").toBool() && !m_driver.click(searchToggle))
        return false;
    return m_driver.click(m_driver.pageItem(QStringLiteral("buttonDateTime")))
        && waitForPage(QStringLiteral("PageDateTime"));
}
