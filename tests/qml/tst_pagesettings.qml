import QtQuick 2.7
import QtQuick.Controls.Material 2.1
import QtTest 1.2
import "panel.js" as Panel

TestCase {
    id: testCase
    name: "PageSettings"
    when: windowShown

    property var win: null

    function init() {
        platform.type = 0
        harness.clearSettings()
        win = Panel.createWindow(testCase)
    }

    function cleanup() {
        win = null
    }

    function openSettings() {
        return Panel.push(testCase, win, "qrc:/PageSettings.qml")
    }

    function modelTexts(comboBox) {
        var texts = []
        for (var i = 0; i < comboBox.count; ++i)
            texts.push(comboBox.textAt(i))
        return texts
    }

    // Chooses the entry below or above the current one from the keyboard, as a user does:
    // the combo box then reports the choice as activated.
    function choose(comboBox, key) {
        Panel.activate(testCase, win)
        comboBox.forceActiveFocus()
        tryCompare(comboBox, "activeFocus", true)
        keyClick(key)
    }

    function test_opensOnTheCurrentChoices() {
        var page = openSettings()
        compare(page.comboBoxTheme.currentText, "Svetla")
        compare(page.comboBoxLanguage.currentText, "Srpski")
        compare(modelTexts(page.comboBoxTheme), ["Tamna", "Svetla"])
        compare(modelTexts(page.comboBoxLanguage), ["English", "Srpski"])
        compare(page.labelTheme.text, "Tema")
        compare(page.labelLanguage.text, "Jezik")
        verify(page.focus)
    }

    function test_opensOnStoredChoices() {
        win.destroy()
        harness.setSettingsValue("sTheme", 0)
        harness.setSettingsValue("sLang", 0)
        win = Panel.createWindow(testCase)
        var page = openSettings()
        compare(page.comboBoxTheme.currentText, "Dark")
        compare(page.comboBoxLanguage.currentText, "English")
        compare(page.labelTheme.text, "Theme")
    }

    function test_choosingDarkTurnsEverythingDark() {
        var page = openSettings()
        choose(page.comboBoxTheme, Qt.Key_Up)
        compare(win.gTheme, 0)
        compare(win.Material.theme, Material.Dark)
        compare(String(Panel.toolButtons(win).back.children[0].source), "qrc:/prev.png")
        // The window's settings element stores the choice.
        tryVerify(function () { return harness.settingsValue("sTheme") === 0 })
    }

    function test_languageSwitchKeepsTheTheme() {
        var page = openSettings()
        compare(page.comboBoxTheme.currentIndex, 1)
        choose(page.comboBoxLanguage, Qt.Key_Up)
        compare(win.gLang, 0)
        compare(page.comboBoxLanguage.currentText, "English")
        compare(modelTexts(page.comboBoxTheme), ["Dark", "Light"])
        compare(page.comboBoxTheme.currentIndex, 1)
        compare(page.comboBoxTheme.currentText, "Light")
        compare(page.labelTheme.text, "Theme")
        compare(page.labelLanguage.text, "Language")
        compare(win.gTheme, 1)
        // The rest of the interface follows at once.
        compare(Panel.menuTexts(win), ["Settings...", "About...", "Exit"])
        compare(Panel.loginPage(win).buttonConnect.text, "Connect")
        tryVerify(function () { return harness.settingsValue("sLang") === 0 })

        choose(page.comboBoxLanguage, Qt.Key_Down)
        compare(win.gLang, 1)
        compare(page.comboBoxTheme.currentText, "Svetla")
        compare(Panel.loginPage(win).buttonConnect.text, "Povezivanje")
    }

    function test_backKeyAfterAChoiceLeavesThePage_data() {
        return [{tag: "theme", box: "comboBoxTheme"}, {tag: "language", box: "comboBoxLanguage"}]
    }

    function test_backKeyAfterAChoiceLeavesThePage(data) {
        var page = openSettings()
        choose(page[data.box], Qt.Key_Up)
        keyClick(Qt.Key_Back)
        Panel.settle(testCase, win)
        compare(Panel.stackView(win).depth, 1)
        // The page's own handler pops: no disconnection.
        compare(service.callCount("disconnectFromService"), 0)
    }

    function test_menuButtonHiddenWhileSettingsOrAboutExists_data() {
        return [{tag: "Settings", url: "qrc:/PageSettings.qml"},
                {tag: "About", url: "qrc:/PageAbout.qml"}]
    }

    function test_menuButtonHiddenWhileSettingsOrAboutExists(data) {
        var menuButton = Panel.toolButtons(win).menu
        verify(menuButton.visible)
        Panel.push(testCase, win, data.url)
        verify(!menuButton.visible)
        // Covered by another page, it still exists.
        Panel.push(testCase, win, "qrc:/PageDateTime.qml")
        verify(!menuButton.visible)
        win.navigateBack()
        Panel.settle(testCase, win)
        verify(!menuButton.visible)
        win.navigateBack()
        Panel.settle(testCase, win)
        tryCompare(menuButton, "visible", true)
    }

    function test_aboutTexts() {
        var page = Panel.push(testCase, win, "qrc:/PageAbout.qml")
        var labels = page.children[0].children
        compare(labels.length, 4)
        compare(labels[0].text, "VornaPanel")
        compare(labels[0].font.pointSize, 24)
        compare(labels[1].text, "Version 3.0.2.10")
        verify(labels[2].text.indexOf("Copyright") === 0)
        verify(labels[2].text.indexOf("Quorvane") > 0)
        compare(labels[3].text, "All rights reserved.")
        compare(labels[3].width, page.children[0].width)
        // Untranslated: the same in English.
        var serbian = [labels[0].text, labels[1].text, labels[2].text, labels[3].text]
        translation.setLanguage(0)
        compare([labels[0].text, labels[1].text, labels[2].text, labels[3].text], serbian)
    }
}
