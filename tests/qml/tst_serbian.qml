import QtQuick 2.7
import QtTest 1.2
import "panel.js" as Panel

// Under Serbian no page shows an English text that the catalogue translates: every caption
// of every page, its popups and menus included, reads in Serbian.
TestCase {
    id: testCase
    name: "Serbian"
    when: windowShown

    property var win: null

    function init() {
        harness.clearSettings()
        win = createTemporaryObject(Qt.createComponent("qrc:/main.qml"), testCase)
        verify(win !== null, "the main window loads")
        translation.setLanguage(1)
    }

    function cleanup() {
        translation.setLanguage(0)
    }

    // Every object below `root`: items, the popups and menus they hold, and their contents.
    // Message dialogs are left out: their standard buttons carry Qt's own texts.
    function objectsBelow(root) {
        var seen = []
        var queue = [root]
        while (queue.length > 0) {
            var object = queue.shift()
            if (!object || seen.indexOf(object) >= 0 || isMessageDialog(object))
                continue
            seen.push(object)
            var lists = [object.children, object.data, object.contentChildren]
            for (var l = 0; l < lists.length; ++l) {
                for (var i = 0; lists[l] && i < lists[l].length; ++i)
                    queue.push(lists[l][i])
            }
            if (object.contentItem)
                queue.push(object.contentItem)
        }
        return seen
    }

    function isMessageDialog(object) {
        return object.standardButtons !== undefined && typeof object.click === "function"
    }

    function englishCaptions(root) {
        var translated = harness.translatedSources()
        verify(translated.length > 20, "the catalogue is read: " + translated.length)
        var found = []
        var objects = objectsBelow(root)
        for (var i = 0; i < objects.length; ++i) {
            var texts = [objects[i].text, objects[i].placeholderText, objects[i].title]
            for (var t = 0; t < texts.length; ++t) {
                if (typeof texts[t] === "string" && translated.indexOf(texts[t]) >= 0)
                    found.push(texts[t])
            }
        }
        return found
    }

    function test_pages_data() {
        return [
            {tag: "login", url: ""},
            {tag: "list", url: "qrc:/PageList.qml", properties: {userName: "ana"}},
            {tag: "detail", url: "qrc:/PageDetail.qml",
             properties: {empId: "7", lastName: "Petrović", firstName: "Ana", department: "Production",
                          presence: "Present", currentDate: new Date(2018, 2, 5, 10, 0)}},
            {tag: "date and time", url: "qrc:/PageDateTime.qml"},
            {tag: "settings", url: "qrc:/PageSettings.qml"},
            {tag: "about", url: "qrc:/PageAbout.qml"}
        ]
    }

    function test_pages(data) {
        var page = data.url === "" ? Panel.loginPage(win) : Panel.push(testCase, win, data.url, data.properties)
        verify(page !== null)
        compare(englishCaptions(page), [])
    }
}
