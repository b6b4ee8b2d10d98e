#pragma once
// The walks a person takes through the panel's screens, built on PanelDriver: logging in,
// opening an employee, assigning a calendar or an exception to a day, using the window's menu
// and going back. Each step waits until the screen it leads to has settled (its loads done,
// its transition over) and returns false with driver.lastError() when it could not.

#include <QDate>
#include <QString>

class PanelDriver;
class QQuickItem;

struct LoginValues
{
    QString server;
    QString port;
    QString user;
    QString password;
};

class PanelSteps
{
public:
    explicit PanelSteps(PanelDriver &driver);

    // The QML type of the page on top of the stack: "PageLogin", "PageList", "PageDetail",
    // "PageDateTime", "PageSettings" or "PageAbout"; empty when there is none.
    QString currentPageName();
    bool waitForPage(const QString &pageName);

    // Types the four values into the login page's fields (the page must be on top).
    bool fillLogin(const LoginValues &values);
    // fillLogin, Connect, and waits until the presence list has loaded.
    bool logIn(const LoginValues &values);
    // On the presence list: waits until its load has ended.
    bool waitForPresence();

    // On the presence list: taps the row of `employeeId` and waits until the detail page has
    // loaded its lists and the month's history.
    bool openEmployee(const QString &employeeId);
    // On the detail page: waits until the month reload has ended.
    bool waitForMonth();
    // On the detail page: the month grid's cell of `day` (a day of the month on view).
    QQuickItem *dayCell(const QDate &day);
    // On the detail page: press and hold `day`, "Assign Calendar..." / "Assign Exception...",
    // pick the entry at `entryIndex`, Assign, and Yes in the confirmation. Returns once the
    // page has sent the assignment and its answer has arrived.
    bool assignCalendar(const QDate &day, int entryIndex);
    bool assignException(const QDate &day, int entryIndex);

    // Opens the window's menu and triggers the item with the QML id `itemId` ("miSettings").
    bool chooseMenuItem(const QString &itemId);
    // The tool bar's back button, then waits for the stack to settle.
    bool goBack();
    QQuickItem *backButton();
    // Rests the mouse pointer on the tool bar's title, where it lights up no control.
    bool parkPointer();
    // On the presence list: shows the search rows and opens the date-time picker.
    bool openDateTimePicker();

private:
    struct AssignmentControls;
    bool assign(const AssignmentControls &controls, const QDate &day, int entryIndex);
    bool waitForPageTrue(const QString &expression, int timeoutMs);

    PanelDriver &m_driver;
};
