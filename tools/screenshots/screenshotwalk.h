#pragma once
// One walk through the real panel in one theme, language and window size: logs in, opens an
// employee, the date-time picker and the settings, and saves each screen it was asked for as
// <page>-<theme>-<language><suffix>.png.

#include <QSize>
#include <QString>
#include <QStringList>

class PanelDriver;
class PanelSteps;

struct ScreenshotOptions
{
    QString server = QStringLiteral("127.0.0.1");
    QString port;
    QString user = QStringLiteral("manager");
    QString password = QStringLiteral("vorna-demo");
    bool dark = false;
    bool serbian = false;
    QSize size{400, 600};
    // Any of "login", "list", "detail", "datetime", "settings".
    QStringList pages;
    // The employee the detail page shows; empty: the first listed one with a registration.
    QString employee;
    QString outputFolder;
    QString suffix;
};

class ScreenshotWalk
{
public:
    static const QStringList &allPages();

    ScreenshotWalk(PanelDriver &driver, PanelSteps &steps, const ScreenshotOptions &options);
    // The saved files, or an empty list and error() when a step failed.
    QStringList run();
    QString error() const;

private:
    bool shoot(const QString &page);
    bool wanted(const QString &page) const;
    bool loginPage();
    bool listPage();
    bool detailPage();
    bool dateTimePage();
    bool settingsPage();
    // The chosen employee, or the first listed one with a registered activity: the detail
    // page then opens on a month with history.
    QString employeeToShow();

    PanelDriver &m_driver;
    PanelSteps &m_steps;
    ScreenshotOptions m_options;
    QStringList m_saved;
};
