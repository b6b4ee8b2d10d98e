#pragma once
// Builds the real panel inside the calling process, as start-up does, and works it the way a
// person would: finds controls by their QML names, clicks them at their centre, types into
// fields, presses and holds, picks combo box entries, answers message boxes, waits for the
// screens to settle and grabs the window to a picture.
//
// Names are found by evaluating a QML expression in the context of a page's root object (its
// ids, the form's aliases and the window's names are all in scope there), e.g.
//     driver.pageItem("buttonConnect")          on the page on top of the stack
//     driver.windowItem("tbMenu")               in the main window
//     driver.evaluate(page, "busyRunning")      any expression
// Every action returns false when it cannot be done as a person would (the control is hidden,
// disabled, outside the window, the wait ran out) and lastError() says why, so a test reads
//     QVERIFY2(driver.click(button), qPrintable(driver.lastError()));
//
// Use from a program: call prepareProcess() before the QGuiApplication exists, then start().

#include <QObject>
#include <QPointF>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

class PanelObjects;
class QAbstractItemModel;
class QImage;
class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;
class QWindow;

class PanelDriver
{
public:
    // Longest wait of any single step unless the caller gives its own.
    static constexpr int DefaultTimeoutMs = 10000;

    // Before the application object exists: keeps the panel's settings store (Qt's and the
    // INI store) and its log under `dataRoot` instead of the user's own folders, and sets the
    // two options start-up sets before the application object.
    static void prepareProcess(const QString &dataRoot);

    PanelDriver();
    ~PanelDriver();
    PanelDriver(const PanelDriver &) = delete;
    PanelDriver &operator=(const PanelDriver &) = delete;

    // Builds the panel and shows its window. `storedSettings` are written to the panel's
    // settings store first, as if a previous run had left them (e.g. "sLang", "sTheme",
    // "appWidth", "appHeight", "server"). Works once per driver.
    bool start(const QVariantMap &storedSettings = {});

    QQuickWindow *window() const;
    // The service client the panel talks through (the real one).
    QObject *serviceClient() const;
    QString lastError() const;
    // Records `message` as lastError() and returns false, for steps built on the driver.
    bool fail(const QString &message);

    // ---- Finding ------------------------------------------------------------------------
    // Evaluates `expression` in the QML context of `scope`, with `scope` as the object whose
    // properties are found first. An invalid QVariant and lastError() on a failure.
    QVariant evaluate(QObject *scope, const QString &expression);
    QVariant evaluateInWindow(const QString &expression);
    QVariant evaluateInPage(const QString &expression);
    // The page on top of the stack.
    QQuickItem *currentPage();
    int stackDepth();
    // An item named by `expression` in the page on top / in the main window; nullptr and
    // lastError() when the expression gives no item.
    QQuickItem *pageItem(const QString &expression);
    QQuickItem *windowItem(const QString &expression);
    QQuickItem *itemOf(QObject *scope, const QString &expression);
    // The first child of `container` (a view's contentItem, a grid) in whose own QML context
    // `expression` is true, e.g. "model.day === 15 && model.month === 2" in a month grid.
    QQuickItem *childWhere(QQuickItem *container, const QString &expression);
    // Every item under `root`, depth first, for which `accept` is true.
    static QList<QQuickItem *> itemsUnder(QQuickItem *root,
                                          const std::function<bool(QQuickItem *)> &accept);
    // The row of `model` whose `role` (by its QML name) holds `value`; -1 when none does.
    static int findRow(const QAbstractItemModel *model, const QString &role, const QVariant &value);
    // The delegate of `row` in a ListView (or the list of a combo box), scrolled into view.
    QQuickItem *listRow(QQuickItem *listView, int row);

    // ---- Acting -------------------------------------------------------------------------
    bool click(QQuickItem *item);
    bool clickAt(QQuickItem *item, const QPointF &local);
    // Moves the mouse pointer, no button down, onto the centre of `item`.
    bool hover(QQuickItem *item);
    // Mouse down, held past the press-and-hold interval, mouse up.
    bool pressAndHold(QQuickItem *item);
    // Clicks the field for the focus, replaces its text with `text` key by key and checks
    // that the field took all of it.
    bool typeInto(QQuickItem *field, const QString &text);
    // A key press and release sent to the control that has the keyboard focus.
    void pressKey(int key);
    // Opens the combo box, clicks the entry at `index` in its drop-down list and checks that
    // it became the current one.
    bool chooseComboEntry(QQuickItem *comboBox, int index);
    // Clicks the button labelled `buttonText` of a message box (QtQuick.Dialogs) that is open
    // in a window of its own, and waits until `dialog` has closed.
    bool answerDialog(QObject *dialog, const QString &buttonText, int timeoutMs = DefaultTimeoutMs);
    // Scrolls the flickables (and lists) around `item` so that it lies inside the window.
    void scrollIntoView(QQuickItem *item);

    // ---- Waiting and looking ------------------------------------------------------------
    // Spins the event loop until `condition` holds; false (and lastError() naming `what`)
    // when `timeoutMs` ran out first.
    bool waitFor(const std::function<bool()> &condition, const QString &what,
                 int timeoutMs = DefaultTimeoutMs);
    // Waits until `expression`, evaluated like evaluate(), is true.
    bool waitForTrue(QObject *scope, const QString &expression, int timeoutMs = DefaultTimeoutMs);
    // Waits until no page transition runs and the last frame is drawn.
    bool settle();
    // The window as it is on the screen now (needs a real display, e.g. xvfb-run).
    QImage grab();
    // Saves grab() as PNG at `path`; `quality` as QImage::save takes it (0: smallest file).
    bool grabTo(const QString &path, int quality = -1);

private:
    bool reachable(QQuickItem *item, const QPointF &scenePoint);
    bool activate(QWindow *window);
    bool checkedItem(QQuickItem *item, const char *action);
    QObject *windowScope() const;

    std::unique_ptr<PanelObjects> m_objects;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QString m_lastError;
};
