// The Qt Quick Test program of the panel's screens. CTest runs it once per tests/qml/tst_*.qml
// file (`tst_qml -input <file>`), under the display the test command provides.
//
// What a test file finds in its QML context
//   translation  the real TranslationClient: emptyString, setLanguage(int), languageChanged.
//                It loads the real catalogue :/serbian.qm, so Serbian texts are the real ones.
//   service      a ScriptedService (scriptedservice.h): the service client's request methods
//                and answer signals. A request only records itself:
//                  service.calls                 [{name: "dbLoginRequest", args: [..]}, ..]
//                  service.callNames()           ["connectToServiceAsync", "dbLoginRequest"]
//                  service.callCount(name), service.lastArgs(name), service.clearCalls()
//                  signal service.called(name, args), after each request
//                Answers come only when the test emits them, either by calling the signal
//                like a function (service.connected(true, "")) or checked and converted by
//                  verify(service.emitSignal("dbLoginResponse", [true]))
//                  verify(service.emitPresenceAnswer([{idEmp: "7", presence: "In", ..}]))
//                null/undefined arguments give the empty value (an invalid date-time, ...).
//                The real ServiceHandler listens to it, exactly as to the real client: a
//                presence answer fills the current presence list, the list model and the
//                picture store ("image://emp/<id>") before the page's own handlers run.
//   platform     a TestPlatform: `type` is writable (0 desktop, 1 Android). Set it before
//                creating the main window; the test program starts with 0.
//   harness      a TestHarness (testharness.h):
//                  clearSettings(), settingsContains(key), settingsValue(key),
//                  setSettingsValue(key, value): the application's settings store, the one
//                  the QML Settings elements write (organisation "Quorvane", application
//                  "VornaPanel3"), kept in a temporary folder that dies with the process;
//                  clearMessages(), messages(): the console lines written since;
//                  picture(color, size): PNG bytes for a presence row's picture.
//   The QML type ModelPresence (import rs.quorvane 1.0) is registered, the image provider
//   "emp" is published, and the Qt Quick Controls style is Material, as in the panel.
//
// Loading the screens
//   The screens come from the panel's real resources. Create the real main window, whose
//   stack holds the login page, and push pages on its stack as the panel does (tests/qml/
//   panel.js, imported relative to the test file):
//     import "panel.js" as Panel
//     var win = Panel.createWindow(testCase)     // qrc:/main.qml, destroyed after the test
//     var page = Panel.push(testCase, win, "qrc:/PageList.qml", {userName: "ana"})
//     Panel.settle(testCase, win)                // waits for the stack's transitions
//     Panel.activate(testCase, win)              // before keyClick: keys go to that window
//   Panel.stackView(win), Panel.loginPage(win), Panel.toolButtons(win) (back, title, refresh,
//   menu), Panel.menu(win) and Panel.menuTexts(win) reach the window's parts. Pages pushed
//   this way see appWindow, stackView, tbMenu, tbRefresh, gLang, gTheme and setTheme exactly
//   as in the panel; an item made by Qt.createQmlObject or a test's own Component does not
//   (it lives in the test's context), so push it instead. Destroying a window writes its
//   settings to the store.

#include "support/scriptedservice.h"
#include "testharness.h"
#include "testplatform.h"

#include "panelobjects.h"
#include "startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <memory>

class QmlTestSetup : public QObject
{
    Q_OBJECT

public:
    QmlTestSetup()
    {
        // Before the application exists: the settings store must never be the user's own.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    }

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Quorvane"));
        QCoreApplication::setApplicationName(QStringLiteral("VornaPanel3"));
        QQuickStyle::setStyle(QStringLiteral("Material"));
        registerPanelQmlTypes();
        TestHarness::useSecretStandIn();
        m_objects = std::make_unique<PanelObjects>([] { return new ScriptedService; });
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        m_objects->publishTo(engine);
        // Replaces the real, read-only descriptor.
        engine->rootContext()->setContextProperty(QStringLiteral("platform"), &m_platform);
        engine->rootContext()->setContextProperty(QStringLiteral("harness"), &m_harness);
    }

private:
    QTemporaryDir m_configHome;
    TestPlatform m_platform;
    TestHarness m_harness;
    std::unique_ptr<PanelObjects> m_objects;
};

QUICK_TEST_MAIN_WITH_SETUP(vornapanel_qml, QmlTestSetup)

#include "main.moc"
