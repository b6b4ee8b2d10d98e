import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Controls.Material 2.1
import QtTest 1.2
import "panel.js" as Panel

TestCase {
    id: testCase
    name: "MainWindow"
    when: windowShown

    SignalSpy {
        id: depthSpy
        signalName: "depthChanged"
    }

    SignalSpy {
        id: refreshSpy
        signalName: "refreshRequest"
    }

    function init() {
        platform.type = 0
        harness.clearSettings()
        service.clearCalls()
        depthSpy.clear()
        refreshSpy.clear()
    }

    function iconSources(win) {
        var buttons = Panel.toolButtons(win)
        return [String(buttons.back.children[0].source), String(buttons.refresh.children[0].source),
                String(buttons.menu.children[0].source)]
    }

    // -- settings and start --------------------------------------------------------------

    function test_firstRunDefaults() {
        var win = Panel.createWindow(testCase)
        compare(win.width, 400)
        compare(win.height, 600)
        compare(win.gLang, 1)
        compare(win.gTheme, 1)
        compare(win.title, "VornaPanel")
        compare(Panel.toolButtons(win).title.text, "VornaPanel")
        compare(win.Material.theme, Material.Light)
        compare(iconSources(win), ["qrc:/prev_dark.png", "qrc:/res/refresh_black.png",
                                   "qrc:/res/menu_black.png"])
        // Serbian from the first start.
        compare(Panel.menuTexts(win), ["Podešavanja...", "O programu...", "Izlaz"])
    }

    function test_storedValuesReplaceDefaults() {
        harness.setSettingsValue("sLang", 0)
        harness.setSettingsValue("sTheme", 0)
        harness.setSettingsValue("appWidth", 640)
        harness.setSettingsValue("appHeight", 480)
        var win = Panel.createWindow(testCase)
        compare(win.gLang, 0)
        compare(win.gTheme, 0)
        compare(win.width, 640)
        compare(win.height, 480)
        compare(win.Material.theme, Material.Dark)
        compare(iconSources(win), ["qrc:/prev.png", "qrc:/res/refresh_white.png",
                                   "qrc:/res/menu_white.png"])
        compare(Panel.menuTexts(win), ["Settings...", "About...", "Exit"])
    }

    function test_changesAreWrittenBack() {
        var win = Panel.createWindow(testCase)
        win.width = 520
        win.height = 700
        win.gTheme = 0
        win.gLang = 0
        // The store is written shortly after a change, at the latest when the window goes.
        tryVerify(function () { return harness.settingsValue("appWidth") == 520 })
        compare(Number(harness.settingsValue("appHeight")), 700)
        compare(Number(harness.settingsValue("sTheme")), 0)
        compare(Number(harness.settingsValue("sLang")), 0)

        // A new window opens as the last one was left.
        win.destroy()
        wait(0)
        var next = Panel.createWindow(testCase)
        compare(next.width, 520)
        compare(next.height, 700)
        compare(next.gTheme, 0)
        compare(next.Material.theme, Material.Dark)
    }

    function test_largeFontIsTwiceTheLabelFont() {
        var win = Panel.createWindow(testCase)
        var label = Qt.createQmlObject("import QtQuick.Controls 2.0; Label {}", win.contentItem)
        verify(label.font.pointSize > 0)
        // An int property: the fraction of the style's point size is dropped.
        verify(Math.abs(win.largeFontSize - label.font.pointSize * 2) < 1, win.largeFontSize)
        compare(Panel.toolButtons(win).title.font.pointSize, win.largeFontSize)
        compare(Panel.toolButtons(win).menu.font.pointSize, win.largeFontSize)
    }

    function test_themeFollowsGTheme() {
        var win = Panel.createWindow(testCase)
        win.gTheme = 0
        // Icons follow gTheme by their own bindings; the Material theme waits for setTheme.
        compare(iconSources(win)[2], "qrc:/res/menu_white.png")
        compare(win.Material.theme, Material.Light)
        win.setTheme()
        compare(win.Material.theme, Material.Dark)
        win.gTheme = 7
        win.setTheme()
        compare(win.Material.theme, Material.Light)
        compare(iconSources(win)[0], "qrc:/prev_dark.png")
    }

    // -- tool bar ---------------------------------------------------------------------------

    function test_backButtonFollowsDepth() {
        var win = Panel.createWindow(testCase)
        var back = Panel.toolButtons(win).back
        verify(!back.visible)
        Panel.push(testCase, win, "qrc:/PageAbout.qml")
        verify(back.visible)
        mouseClick(back)
        Panel.settle(testCase, win)
        compare(Panel.stackView(win).depth, 1)
        verify(!back.visible)
    }

    function test_navigateBackDisconnectsOnlyAtTheLoginPage() {
        var win = Panel.createWindow(testCase)
        Panel.push(testCase, win, "qrc:/PageSettings.qml")
        Panel.push(testCase, win, "qrc:/PageDateTime.qml")
        win.navigateBack()
        Panel.settle(testCase, win)
        compare(Panel.stackView(win).depth, 2)
        compare(service.callCount("disconnectFromService"), 0)

        // Leaving Settings for the login page disconnects, connected or not.
        win.navigateBack()
        Panel.settle(testCase, win)
        compare(Panel.stackView(win).depth, 1)
        compare(service.callNames(), ["disconnectFromService"])
    }

    function test_escapeStepsBackLikeTheBackButton() {
        var win = Panel.createWindow(testCase)
        Panel.push(testCase, win, "qrc:/PageSettings.qml")
        Panel.activate(testCase, win)
        keyClick(Qt.Key_Escape)
        Panel.settle(testCase, win)
        compare(Panel.stackView(win).depth, 1)
        compare(service.callNames(), ["disconnectFromService"], "reaching the login page disconnects")
    }

    function test_f5RefreshesOnlyWhereTheButtonShows() {
        var win = Panel.createWindow(testCase)
        refreshSpy.target = win
        Panel.activate(testCase, win)
        keyClick(Qt.Key_F5)
        compare(refreshSpy.count, 0)
        Panel.loginPage(win).pageListActivated(true)
        keyClick(Qt.Key_F5)
        compare(refreshSpy.count, 1)
    }

    function test_refreshButton() {
        var win = Panel.createWindow(testCase)
        var refresh = Panel.toolButtons(win).refresh
        verify(!refresh.visible)
        verify(win.tbRefresh === refresh)

        // The login page relays the list page's signals.
        var login = Panel.loginPage(win)
        login.pageListActivated(true)
        verify(refresh.visible)
        login.busy(true)
        verify(!refresh.visible)
        login.busy(false)
        verify(refresh.visible)
        login.pageListActivated(false)
        verify(!refresh.visible)

        login.pageListActivated(true)
        refreshSpy.target = win
        mouseClick(refresh)
        compare(refreshSpy.count, 1)
        compare(service.calls.length, 0)
    }

    // -- disconnection -----------------------------------------------------------------------

    function test_disconnectionPopsToLoginInOneStep() {
        var win = Panel.createWindow(testCase)
        var stack = Panel.stackView(win)
        var login = Panel.loginPage(win)
        Panel.push(testCase, win, "qrc:/PageSettings.qml")
        Panel.push(testCase, win, "qrc:/PageDateTime.qml")
        compare(stack.depth, 3)

        depthSpy.target = stack
        harness.clearMessages()
        service.disconnected()
        compare(depthSpy.count, 1)
        compare(stack.depth, 1)
        Panel.settle(testCase, win)
        verify(stack.currentItem === login)
        verify(Panel.toolButtons(win).menu.visible)
        verify(harness.messages().indexOf("Disconnected from service.") >= 0)
        // Nothing asks the service to disconnect again.
        compare(service.callCount("disconnectFromService"), 0)
    }

    function test_disconnectionAtTheLoginPageChangesNothing() {
        var win = Panel.createWindow(testCase)
        var stack = Panel.stackView(win)
        depthSpy.target = stack
        service.disconnected()
        compare(depthSpy.count, 0)
        compare(stack.depth, 1)
        verify(Panel.toolButtons(win).menu.visible)
    }

    function test_disconnectionShowsTheMenuButton() {
        var win = Panel.createWindow(testCase)
        var menuButton = Panel.toolButtons(win).menu
        menuButton.visible = false
        service.disconnected()
        verify(menuButton.visible)
    }

    // -- menu --------------------------------------------------------------------------------

    function test_menuOnDesktop() {
        var win = Panel.createWindow(testCase)
        var menu = Panel.menu(win)
        mouseClick(Panel.toolButtons(win).menu)
        tryCompare(menu, "opened", true)
        compare(menu.x, menu.parent.width - menu.width)
        compare(menu.count, 3)

        // Settings... pushes the settings page.
        menu.itemAt(0).triggered()
        Panel.settle(testCase, win)
        var stack = Panel.stackView(win)
        compare(stack.depth, 2)
        verify(stack.currentItem.comboBoxTheme !== undefined)

        win.navigateBack()
        Panel.settle(testCase, win)
        menu.itemAt(1).triggered()
        Panel.settle(testCase, win)
        compare(stack.depth, 2)
        verify(stack.currentItem.comboBoxTheme === undefined)
        verify(!Panel.toolButtons(win).menu.visible)
    }

    function test_menuOnAndroidHasNoExit() {
        platform.type = 1
        var win = Panel.createWindow(testCase)
        compare(Panel.menu(win).count, 2)
        compare(Panel.menuTexts(win), ["Podešavanja...", "O programu..."])
    }

    // -- closing -----------------------------------------------------------------------------

    function test_androidCloseStepsBack() {
        platform.type = 1
        var win = Panel.createWindow(testCase)
        var stack = Panel.stackView(win)
        Panel.push(testCase, win, "qrc:/PageAbout.qml")
        Panel.push(testCase, win, "qrc:/PageDateTime.qml")

        win.close()
        Panel.settle(testCase, win)
        verify(win.visible)
        compare(stack.depth, 2)
        compare(service.callCount("disconnectFromService"), 0)

        win.close()
        Panel.settle(testCase, win)
        verify(win.visible)
        compare(stack.depth, 1)
        compare(service.callCount("disconnectFromService"), 1)

        // At the login page the close goes through.
        win.close()
        verify(!win.visible)
    }

    function test_desktopCloseCloses() {
        var win = Panel.createWindow(testCase)
        Panel.push(testCase, win, "qrc:/PageAbout.qml")
        win.close()
        verify(!win.visible)
        compare(Panel.stackView(win).depth, 2)
        compare(service.calls.length, 0)
    }
}
