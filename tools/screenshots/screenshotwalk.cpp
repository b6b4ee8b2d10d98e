#include "screenshotwalk.h"

#include "paneldriver.h"
#include "panelsteps.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QDir>
#include <QQuickItem>
#include <QTest>

namespace {

// The smallest PNG files QImage writes: the set lives in the repository.
constexpr int SmallestPng = 0;
// Longer than the Material style's hover and ripple fade-outs.
constexpr int HoverFadeMs = 600;

} // namespace

const QStringList &ScreenshotWalk::allPages()
{
    static const QStringList pages{QStringLiteral("login"), QStringLiteral("list"), QStringLiteral("detail"),
                                   QStringLiteral("datetime"), QStringLiteral("settings")};
    return pages;
}

ScreenshotWalk::ScreenshotWalk(PanelDriver &driver, PanelSteps &steps, const ScreenshotOptions &options)
    : m_driver(driver)
    , m_steps(steps)
    , m_options(options)
{
}

QString ScreenshotWalk::error() const
{
    return m_driver.lastError();
}

bool ScreenshotWalk::wanted(const QString &page) const
{
    return m_options.pages.contains(page);
}

QStringList ScreenshotWalk::run()
{
    const QVariantMap stored{{QStringLiteral("sTheme"), m_options.dark ? 0 : 1},
                             {QStringLiteral("sLang"), m_options.serbian ? 1 : 0},
                             {QStringLiteral("appWidth"), m_options.size.width()},
                             {QStringLiteral("appHeight"), m_options.size.height()}};
    const bool walked = m_driver.start(stored)
        && loginPage() && listPage() && detailPage() && dateTimePage() && settingsPage();
    return walked ? m_saved : QStringList();
}

bool ScreenshotWalk::shoot(const QString &page)
{
    if (!wanted(page))
        return true;
    const QString name = QStringLiteral("%1-%2-%3%4.png")
                             .arg(page, m_options.dark ? QStringLiteral("dark") : QStringLiteral("light"),
                                  m_options.serbian ? QStringLiteral("sr") : QStringLiteral("en"), m_options.suffix);
    const QString path = QDir(m_options.outputFolder).filePath(name);
    if (!m_steps.parkPointer())
        return false;
    // The hover highlight of the control the pointer left fades out.
    QTest::qWait(HoverFadeMs);
    if (!m_driver.settle() || !m_driver.grabTo(path, SmallestPng))
        return false;
    m_saved << path;
    return true;
}

bool ScreenshotWalk::loginPage()
{
    const LoginValues values{m_options.server, m_options.port, m_options.user, m_options.password};
    return m_steps.fillLogin(values)
        && shoot(QStringLiteral("login"))
        && m_driver.click(m_driver.pageItem(QStringLiteral("buttonConnect")))
        && m_steps.waitForPage(QStringLiteral("PageList"))
        && m_steps.waitForPresence();
}

bool ScreenshotWalk::listPage()
{
    return shoot(QStringLiteral("list"));
}

QString ScreenshotWalk::employeeToShow()
{
    if (!m_options.employee.isEmpty())
        return m_options.employee;
    QQuickItem *list = m_driver.pageItem(QStringLiteral("listView"));
    const auto *model = list ? qobject_cast<const QAbstractItemModel *>(list->property("model").value<QObject *>())
                             : nullptr;
    if (!model)
        return QString();
    const QHash<int, QByteArray> roles = model->roleNames();
    const int idRole = roles.key("modelEmpId");
    const int activityRole = roles.key("modelLastActDT");
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (model->data(index, activityRole).toDateTime().isValid())
            return model->data(index, idRole).toString();
    }
    return model->rowCount() > 0 ? model->data(model->index(0, 0), idRole).toString() : QString();
}

bool ScreenshotWalk::detailPage()
{
    if (!wanted(QStringLiteral("detail")))
        return true;
    const QString employee = employeeToShow();
    if (employee.isEmpty())
        return m_driver.fail(QStringLiteral("The presence list is empty; seed the service with 'vorna-service demo' first."));
    return m_steps.openEmployee(employee) && shoot(QStringLiteral("detail")) && m_steps.goBack();
}

bool ScreenshotWalk::dateTimePage()
{
    if (!wanted(QStringLiteral("datetime")))
        return true;
    return m_steps.openDateTimePicker() && shoot(QStringLiteral("datetime")) && m_steps.goBack();
}

bool ScreenshotWalk::settingsPage()
{
    if (!wanted(QStringLiteral("settings")))
        return true;
    return m_steps.chooseMenuItem(QStringLiteral("miSettings"))
        && m_steps.waitForPage(QStringLiteral("PageSettings"))
        && shoot(QStringLiteral("settings"))
        && m_steps.goBack();
}
