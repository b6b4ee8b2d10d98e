#include "paneldriver.h"

#include <ostrel/clientobjectqml.h>
#include "panelobjects.h"
#include "startup.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMetaType>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTest>

namespace {

// QQuickItemView::Contain: scroll as little as needed to show the whole row.
constexpr int PositionContain = 4;

void storeSettings(const QVariantMap &values)
{
    QSettings settings;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.sync();
}

// "buttonConnect (Button \"Connect\")": enough to find the control in the QML files.
QString describe(QQuickItem *item)
{
    if (!item)
        return QStringLiteral("no item");
    QString name;
    if (QQmlContext *context = qmlContext(item))
        name = context->nameForObject(item);
    QString kind = QString::fromLatin1(item->metaObject()->className());
    kind = kind.section(QLatin1Char('_'), 0, 0);
    const QString text = item->property("text").toString();
    QString result = name.isEmpty() ? kind : QStringLiteral("%1 (%2)").arg(name, kind);
    if (!text.isEmpty())
        result += QStringLiteral(" \"%1\"").arg(text);
    return result;
}

bool isFlickable(const QQuickItem *item)
{
    return item->inherits("QQuickFlickable");
}

// Qt Test types whole strings only into widgets; a window gets them key by key.
void typeText(QWindow *window, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(window, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

bool isClickable(QQuickItem *item)
{
    return item->metaObject()->indexOfSignal("clicked()") >= 0;
}

} // namespace

void PanelDriver::prepareProcess(const QString &dataRoot)
{
    const QDir root(dataRoot);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("data"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root.filePath(QStringLiteral("cache"))));
    prepareBeforeApplication();
}

PanelDriver::PanelDriver() = default;

PanelDriver::~PanelDriver()
{
    // Start-up's teardown order: the engine (and every QML object) before the native objects.
    m_engine.reset();
    m_objects.reset();
}

bool PanelDriver::start(const QVariantMap &storedSettings)
{
    if (m_engine)
        return fail(QStringLiteral("The panel is already running in this driver; make a new driver for a new run."));
    configurePanelProcess();
    storeSettings(storedSettings);

    m_objects = std::make_unique<PanelObjects>([] { return new ClientObjectQml(); });
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_objects->publishTo(m_engine.get());
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml"), QUrl::TolerantMode));
    if (m_engine->rootObjects().isEmpty())
        return fail(QStringLiteral("qrc:/main.qml gave no window; the QML engine's messages above say why."));
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    if (!m_window)
        return fail(QStringLiteral("The root object of qrc:/main.qml is not a window."));
    if (!QTest::qWaitForWindowExposed(m_window))
        return fail(QStringLiteral("The panel's window never appeared on the screen. Is there a display (xvfb-run -a)?"));
    return activate(m_window) && settle();
}

QQuickWindow *PanelDriver::window() const
{
    return m_window;
}

QObject *PanelDriver::serviceClient() const
{
    return m_objects ? m_objects->serviceClient() : nullptr;
}

QString PanelDriver::lastError() const
{
    return m_lastError;
}

bool PanelDriver::fail(const QString &message)
{
    m_lastError = message;
    return false;
}

QObject *PanelDriver::windowScope() const
{
    return m_window;
}

// ---- Finding ----------------------------------------------------------------------------

QVariant PanelDriver::evaluate(QObject *scope, const QString &expression)
{
    if (!scope) {
        fail(QStringLiteral("Nothing to evaluate \"%1\" in: the panel is not running.").arg(expression));
        return {};
    }
    QQmlContext *context = qmlContext(scope);
    if (!context) {
        fail(QStringLiteral("Cannot evaluate \"%1\": the object was not made by QML.").arg(expression));
        return {};
    }
    QQmlExpression qmlExpression(context, scope, expression);
    const QVariant value = qmlExpression.evaluate();
    if (qmlExpression.hasError()) {
        fail(QStringLiteral("Cannot evaluate \"%1\": %2").arg(expression, qmlExpression.error().toString()));
        return {};
    }
    return value;
}

QVariant PanelDriver::evaluateInWindow(const QString &expression)
{
    return evaluate(windowScope(), expression);
}

QVariant PanelDriver::evaluateInPage(const QString &expression)
{
    return evaluate(currentPage(), expression);
}

QQuickItem *PanelDriver::currentPage()
{
    return itemOf(windowScope(), QStringLiteral("stackView.currentItem"));
}

int PanelDriver::stackDepth()
{
    const QVariant depth = evaluateInWindow(QStringLiteral("stackView.depth"));
    return depth.isValid() ? depth.toInt() : -1;
}

QQuickItem *PanelDriver::pageItem(const QString &expression)
{
    return itemOf(currentPage(), expression);
}

QQuickItem *PanelDriver::windowItem(const QString &expression)
{
    return itemOf(windowScope(), expression);
}

QQuickItem *PanelDriver::itemOf(QObject *scope, const QString &expression)
{
    const QVariant value = evaluate(scope, expression);
    if (!value.isValid())
        return nullptr;
    auto *item = qobject_cast<QQuickItem *>(value.value<QObject *>());
    if (!item)
        fail(QStringLiteral("\"%1\" names no visual item (it gives %2).").arg(expression, value.toString()));
    return item;
}

QQuickItem *PanelDriver::childWhere(QQuickItem *container, const QString &expression)
{
    if (!container) {
        fail(QStringLiteral("No container to look for \"%1\" in.").arg(expression));
        return nullptr;
    }
    const QList<QQuickItem *> children = container->childItems();
    for (QQuickItem *child : children) {
        QQmlContext *context = qmlContext(child);
        if (!context)
            continue;
        // Children that are not delegates know no "model"; their errors just mean "not this one".
        QQmlExpression test(context, child, expression);
        const QVariant value = test.evaluate();
        if (!test.hasError() && value.toBool())
            return child;
    }
    fail(QStringLiteral("No child of %1 satisfies \"%2\".").arg(describe(container), expression));
    return nullptr;
}

QList<QQuickItem *> PanelDriver::itemsUnder(QQuickItem *root, const std::function<bool(QQuickItem *)> &accept)
{
    QList<QQuickItem *> found;
    if (!root)
        return found;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (accept(child))
            found << child;
        found << itemsUnder(child, accept);
    }
    return found;
}

int PanelDriver::findRow(const QAbstractItemModel *model, const QString &role, const QVariant &value)
{
    if (!model)
        return -1;
    const int roleKey = model->roleNames().key(role.toUtf8(), -1);
    if (roleKey < 0)
        return -1;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->data(model->index(row, 0), roleKey) == value)
            return row;
    }
    return -1;
}

QQuickItem *PanelDriver::listRow(QQuickItem *listView, int row)
{
    if (!listView) {
        fail(QStringLiteral("No list to find row %1 in.").arg(row));
        return nullptr;
    }
    const int count = listView->property("count").toInt();
    if (row < 0 || row >= count) {
        fail(QStringLiteral("%1 has %2 rows; there is no row %3.").arg(describe(listView)).arg(count).arg(row));
        return nullptr;
    }
    // What a person does with the scroll bar: bring the row into sight.
    QMetaObject::invokeMethod(listView, "positionViewAtIndex", Q_ARG(int, row), Q_ARG(int, PositionContain));
    QQuickItem *delegate = nullptr;
    QMetaObject::invokeMethod(listView, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, delegate), Q_ARG(int, row));
    if (!delegate)
        fail(QStringLiteral("%1 made no delegate for row %2.").arg(describe(listView)).arg(row));
    return delegate;
}

// ---- Acting -----------------------------------------------------------------------------

bool PanelDriver::checkedItem(QQuickItem *item, const char *action)
{
    if (!item)
        return fail(QStringLiteral("Nothing to %1: %2").arg(QLatin1String(action), m_lastError));
    if (!item->window())
        return fail(QStringLiteral("Cannot %1 %2: it is in no window.").arg(QLatin1String(action), describe(item)));
    if (!item->isVisible())
        return fail(QStringLiteral("Cannot %1 %2: it is hidden.").arg(QLatin1String(action), describe(item)));
    if (!item->isEnabled())
        return fail(QStringLiteral("Cannot %1 %2: it is disabled.").arg(QLatin1String(action), describe(item)));
    return true;
}

bool PanelDriver::reachable(QQuickItem *item, const QPointF &scenePoint)
{
    const QRectF windowArea(QPointF(0, 0), QSizeF(item->window()->size()));
    if (!windowArea.contains(scenePoint))
        return fail(QStringLiteral("%1 lies outside the window (at %2, %3 of %4 x %5).")
                        .arg(describe(item))
                        .arg(scenePoint.x()).arg(scenePoint.y())
                        .arg(windowArea.width()).arg(windowArea.height()));
    return true;
}

void PanelDriver::scrollIntoView(QQuickItem *item)
{
    for (QQuickItem *flickable = item ? item->parentItem() : nullptr; flickable;
         flickable = flickable->parentItem()) {
        if (!isFlickable(flickable))
            continue;
        const QRectF area = item->mapRectToItem(flickable, item->boundingRect());
        qreal shift = 0;
        if (area.top() < 0)
            shift = area.top();
        else if (area.bottom() > flickable->height())
            shift = qMin(area.top(), area.bottom() - flickable->height());
        if (qFuzzyIsNull(shift))
            continue;
        const qreal originY = flickable->property("originY").toReal();
        const qreal contentHeight = flickable->property("contentHeight").toReal();
        const qreal lowest = originY + qMax<qreal>(0, contentHeight - flickable->height());
        const qreal contentY = flickable->property("contentY").toReal() + shift;
        flickable->setProperty("contentY", qBound(originY, contentY, lowest));
    }
}

bool PanelDriver::activate(QWindow *window)
{
    // A window manager activates the window a person clicks into; the virtual display has none.
    // (QWindow::isActive() also holds while a message box it owns has the focus.)
    if (QGuiApplication::focusWindow() == window)
        return true;
    window->requestActivate();
    return waitFor([window] { return QGuiApplication::focusWindow() == window; },
                   QStringLiteral("the window \"%1\" to take the keyboard focus").arg(window->title()));
}

bool PanelDriver::click(QQuickItem *item)
{
    return checkedItem(item, "click") && clickAt(item, item->boundingRect().center());
}

bool PanelDriver::clickAt(QQuickItem *item, const QPointF &local)
{
    if (!checkedItem(item, "click"))
        return false;
    scrollIntoView(item);
    const QPointF scenePoint = item->mapToScene(local);
    if (!reachable(item, scenePoint) || !activate(item->window()))
        return false;
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, scenePoint.toPoint());
    return true;
}

bool PanelDriver::hover(QQuickItem *item)
{
    if (!item)
        return fail(QStringLiteral("Nothing to move the pointer onto: %1").arg(m_lastError));
    const QPointF scenePoint = item->mapToScene(item->boundingRect().center());
    if (!reachable(item, scenePoint))
        return false;
    QTest::mouseMove(item->window(), scenePoint.toPoint());
    return true;
}

bool PanelDriver::pressAndHold(QQuickItem *item)
{
    if (!checkedItem(item, "press and hold"))
        return false;
    scrollIntoView(item);
    const QPointF scenePoint = item->mapToScene(item->boundingRect().center());
    if (!reachable(item, scenePoint))
        return false;
    QWindow *window = item->window();
    if (!activate(window))
        return false;
    const int holdMs = QGuiApplication::styleHints()->mousePressAndHoldInterval();
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, scenePoint.toPoint());
    QTest::qWait(holdMs + 300);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, scenePoint.toPoint(), holdMs + 300);
    return true;
}

bool PanelDriver::typeInto(QQuickItem *field, const QString &text)
{
    if (!click(field))
        return false;
    if (!waitFor([field] { return field->hasActiveFocus(); },
                 QStringLiteral("the keyboard focus in %1").arg(describe(field))))
        return false;
    QWindow *window = field->window();
    QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_Backspace);
    typeText(window, text);
    const QString typed = field->property("text").toString();
    if (typed != text)
        return fail(QStringLiteral("%1 holds \"%2\" after typing \"%3\".").arg(describe(field), typed, text));
    return true;
}

void PanelDriver::pressKey(int key)
{
    QWindow *window = QGuiApplication::focusWindow();
    QTest::keyClick(window ? window : m_window, Qt::Key(key));
}

bool PanelDriver::chooseComboEntry(QQuickItem *comboBox, int index)
{
    if (!checkedItem(comboBox, "open"))
        return false;
    const int count = comboBox->property("count").toInt();
    if (index < 0 || index >= count)
        return fail(QStringLiteral("%1 has %2 entries; there is no entry %3.").arg(describe(comboBox)).arg(count).arg(index));
    auto *popup = comboBox->property("popup").value<QObject *>();
    if (!popup)
        return fail(QStringLiteral("%1 has no drop-down list.").arg(describe(comboBox)));
    if (!click(comboBox))
        return false;
    if (!waitFor([popup] { return popup->property("opened").toBool(); },
                 QStringLiteral("the drop-down list of %1 to open").arg(describe(comboBox))))
        return false;
    auto *list = popup->property("contentItem").value<QQuickItem *>();
    if (!click(listRow(list, index)))
        return false;
    if (!waitFor([popup] { return !popup->property("visible").toBool(); },
                 QStringLiteral("the drop-down list of %1 to close").arg(describe(comboBox))))
        return false;
    const int current = comboBox->property("currentIndex").toInt();
    if (current != index)
        return fail(QStringLiteral("%1 shows entry %2 after entry %3 was clicked.").arg(describe(comboBox)).arg(current).arg(index));
    return true;
}

bool PanelDriver::answerDialog(QObject *dialog, const QString &buttonText, int timeoutMs)
{
    if (!dialog)
        return fail(QStringLiteral("No message box to answer with \"%1\": %2").arg(buttonText, m_lastError));
    if (!waitFor([dialog] { return dialog->property("visible").toBool(); },
                 QStringLiteral("the message box to open"), timeoutMs))
        return false;
    // The message box draws itself in a window of its own where the platform manages windows,
    // else inside the main window; its buttons are the items that can be clicked and carry
    // the label.
    QQuickItem *button = nullptr;
    const auto findButton = [this, &buttonText, &button] {
        QWindowList windows = QGuiApplication::topLevelWindows();
        if (windows.removeOne(m_window))
            windows << m_window;
        for (QWindow *window : qAsConst(windows)) {
            auto *quickWindow = qobject_cast<QQuickWindow *>(window);
            if (!quickWindow || !quickWindow->isVisible())
                continue;
            const QList<QQuickItem *> buttons = itemsUnder(quickWindow->contentItem(), [&buttonText](QQuickItem *item) {
                return item->isVisible() && isClickable(item) && item->property("text").toString() == buttonText;
            });
            if (!buttons.isEmpty()) {
                button = buttons.constFirst();
                return true;
            }
        }
        return false;
    };
    if (!waitFor(findButton, QStringLiteral("a \"%1\" button in the open message box").arg(buttonText), timeoutMs))
        return false;
    if (!QTest::qWaitForWindowExposed(button->window()))
        return fail(QStringLiteral("The message box's window never appeared on the screen."));
    if (!click(button))
        return false;
    return waitFor([dialog] { return !dialog->property("visible").toBool(); },
                   QStringLiteral("the message box to close after \"%1\"").arg(buttonText), timeoutMs);
}

// ---- Waiting and looking ----------------------------------------------------------------

bool PanelDriver::waitFor(const std::function<bool()> &condition, const QString &what, int timeoutMs)
{
    if (QTest::qWaitFor(condition, timeoutMs))
        return true;
    return fail(QStringLiteral("Waited %1 ms for %2 in vain.").arg(timeoutMs).arg(what));
}

bool PanelDriver::waitForTrue(QObject *scope, const QString &expression, int timeoutMs)
{
    QString evaluationError;
    const auto holds = [&] {
        const QVariant value = evaluate(scope, expression);
        if (!value.isValid())
            evaluationError = m_lastError;
        return value.toBool();
    };
    if (QTest::qWaitFor(holds, timeoutMs))
        return true;
    QString message = QStringLiteral("Waited %1 ms for \"%2\" to become true in vain.").arg(timeoutMs).arg(expression);
    if (!evaluationError.isEmpty())
        message += QLatin1Char(' ') + evaluationError;
    return fail(message);
}

bool PanelDriver::settle()
{
    if (!m_window)
        return fail(QStringLiteral("The panel is not running; start() it first."));
    if (!waitFor([this] { return !evaluateInWindow(QStringLiteral("stackView.busy")).toBool(); },
                 QStringLiteral("the page transition to end")))
        return false;
    QSignalSpy drawn(m_window, &QQuickWindow::frameSwapped);
    m_window->update();
    if (!drawn.wait(DefaultTimeoutMs))
        return fail(QStringLiteral("The panel's window drew no frame."));
    return true;
}

QImage PanelDriver::grab()
{
    return m_window ? m_window->grabWindow() : QImage();
}

bool PanelDriver::grabTo(const QString &path, int quality)
{
    const QImage picture = grab();
    if (picture.isNull())
        return fail(QStringLiteral("The window could not be grabbed. Run under a real display (xvfb-run -a), not the offscreen platform."));
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!picture.save(path, "PNG", quality))
        return fail(QStringLiteral("Could not write %1. Is the folder writable and the disk not full?").arg(path));
    return true;
}
