import QtQuick 2.7
import QtTest 1.2
import "panel.js" as Panel

TestCase {
    id: testCase
    name: "PageDateTime"
    when: windowShown

    property var win: null
    property var button: null

    SignalSpy {
        id: acceptedSpy
        signalName: "acceptedDateTime"
    }

    function init() {
        harness.clearSettings()
        harness.setSettingsValue("sLang", 0)
        acceptedSpy.clear()
        win = Panel.createWindow(testCase)
        // The stack makes its items in the window's context, where the button finds stackView.
        button = Panel.push(testCase, win, "qrc:/ButtonDateTime.qml")
    }

    function cleanup() {
        button = null
        win = null
    }

    // Opens the picker from the button, as a press does, and waits for it.
    function openPicker() {
        var stack = Panel.stackView(win)
        var depth = stack.depth
        button.clicked()
        compare(stack.depth, depth + 1)
        Panel.settle(testCase, win)
        acceptedSpy.target = stack.currentItem
        return stack.currentItem
    }

    function pick(picker, values) {
        picker.day = values.day - 1
        picker.month = values.month - 1
        picker.year = values.year - 2000
        picker.hour = values.hour
        picker.minute = values.minute
    }

    function accept(picker) {
        mouseClick(picker.buttonAccept)
        Panel.settle(testCase, win)
    }

    function texts(model) {
        var result = []
        for (var i = 0; i < model.count; ++i)
            result.push(String(model.get(i).id))
        return result
    }

    function numbers(from, to) {
        var result = []
        for (var n = from; n <= to; ++n)
            result.push(n < 10 ? "0" + n : "" + n)
        return result
    }

    // -- the button --------------------------------------------------------------------------

    function test_buttonText_data() {
        return [
            {tag: "English date and time", lang: 0, showTime: true, text: "12/21/2017 14:05"},
            {tag: "English date", lang: 0, showTime: false, text: "12/21/2017"},
            {tag: "Serbian date and time", lang: 1, showTime: true, text: "21.12.2017. 14:05"},
            {tag: "Serbian date", lang: 1, showTime: false, text: "21.12.2017"},
        ]
    }

    function test_buttonText(data) {
        button.datetime = new Date(2017, 11, 21, 14, 5, 0)
        button.showTime = data.showTime
        translation.setLanguage(data.lang)
        compare(button.text, data.text)
        translation.setLanguage(0)
    }

    function test_buttonTextFollowsTheLanguageAtOnce() {
        button.datetime = new Date(2017, 11, 21, 14, 5, 0)
        compare(button.text, "12/21/2017 14:05")
        translation.setLanguage(1)
        compare(button.text, "21.12.2017. 14:05")
        translation.setLanguage(0)
        compare(button.text, "12/21/2017 14:05")
    }

    function test_buttonStartsAtItsCreation() {
        var before = new Date()
        var fresh = Panel.push(testCase, win, "qrc:/ButtonDateTime.qml")
        var after = new Date()
        verify(fresh.datetime >= before && fresh.datetime <= after, fresh.datetime)
        verify(fresh.showTime)
    }

    // -- positioning and accepting -----------------------------------------------------------

    function test_pickerOpensOnTheButtonValueAndGivesItBack() {
        button.datetime = new Date(2017, 11, 21, 14, 5, 0)
        var picker = openPicker()
        compare(picker.showTime, true)
        compare(picker.comboBoxDay.currentText, "21")
        compare(picker.comboBoxMonth.currentText, "12")
        compare(picker.comboBoxYear.currentText, "2017")
        compare(picker.comboBoxHour.currentText, "14")
        compare(picker.comboBoxMinute.currentText, "05")

        accept(picker)
        compare(acceptedSpy.count, 1)
        compare(acceptedSpy.signalArguments[0][0].getTime(), new Date(2017, 11, 21, 14, 5, 0, 0).getTime())
        compare(button.datetime.getTime(), new Date(2017, 11, 21, 14, 5, 0, 0).getTime())
        compare(button.text, "12/21/2017 14:05")
        verify(Panel.stackView(win).currentItem === button)
    }

    function test_acceptDropsSeconds() {
        button.datetime = new Date(2017, 11, 21, 14, 5, 37, 250)
        accept(openPicker())
        compare(button.datetime.getTime(), new Date(2017, 11, 21, 14, 5, 0, 0).getTime())
    }

    function test_acceptCarriesDaysIntoTheNextMonth_data() {
        return [
            {tag: "31 April", pick: {day: 31, month: 4, year: 2017, hour: 9, minute: 30},
             result: new Date(2017, 4, 1, 9, 30)},
            {tag: "30 February 2018", pick: {day: 30, month: 2, year: 2018, hour: 0, minute: 0},
             result: new Date(2018, 2, 2, 0, 0)},
            {tag: "30 February 2016", pick: {day: 30, month: 2, year: 2016, hour: 0, minute: 0},
             result: new Date(2016, 2, 1, 0, 0)},
            {tag: "31 December", pick: {day: 31, month: 12, year: 2010, hour: 23, minute: 59},
             result: new Date(2010, 11, 31, 23, 59)},
        ]
    }

    function test_acceptCarriesDaysIntoTheNextMonth(data) {
        var picker = openPicker()
        pick(picker, data.pick)
        accept(picker)
        compare(button.datetime.getTime(), data.result.getTime())
    }

    function test_lists() {
        var picker = openPicker()
        var years = texts(picker.comboBoxYear.model)
        compare(years[0], "2000")
        compare(years[years.length - 1], String(new Date().getFullYear()))
        compare(years.length, new Date().getFullYear() - 2000 + 1)
        compare(texts(picker.comboBoxMonth.model), numbers(1, 12))
        compare(texts(picker.comboBoxDay.model), numbers(1, 31))
        compare(texts(picker.comboBoxHour.model), numbers(0, 23))
        compare(texts(picker.comboBoxMinute.model), numbers(0, 59))
    }

    function test_dateOnly() {
        button.showTime = false
        button.datetime = new Date(2017, 11, 21, 14, 5, 0)
        compare(button.text, "12/21/2017")
        var picker = openPicker()
        compare(picker.showTime, false)
        verify(!picker.comboBoxHour.visible)
        verify(!picker.comboBoxMinute.visible)
        verify(!picker.labelHour.visible)
        verify(!picker.labelMinute.visible)
        verify(picker.buttonNow.visible)
        compare(picker.hour, 0)
        compare(picker.minute, 0)

        // Hour and minute never enter a date-only value.
        picker.hour = 14
        picker.minute = 5
        accept(picker)
        compare(button.datetime.getTime(), new Date(2017, 11, 21, 0, 0, 0, 0).getTime())
        compare(button.text, "12/21/2017")
    }

    // -- leaving without a choice ------------------------------------------------------------

    function test_nowSetsThePresentMomentAndStays() {
        var start = new Date(2005, 2, 3, 4, 5, 0)
        button.datetime = start
        var picker = openPicker()
        var before = new Date()
        mouseClick(picker.buttonNow)
        var after = new Date()

        verify(Panel.stackView(win).currentItem === picker)
        compare(acceptedSpy.count, 0)
        // The minute may turn over during the click: the lists show one of the two moments.
        var shown = new Date(2000 + picker.year, picker.month, picker.day + 1, picker.hour, picker.minute)
        var first = new Date(before.getFullYear(), before.getMonth(), before.getDate(),
                             before.getHours(), before.getMinutes())
        verify(shown >= first && shown <= after, shown)

        // Going back keeps the button's value.
        win.navigateBack()
        Panel.settle(testCase, win)
        compare(acceptedSpy.count, 0)
        compare(button.datetime.getTime(), start.getTime())
    }

    function test_backKeyPopsWithoutAChoice() {
        var start = new Date(2005, 2, 3, 4, 5, 0)
        button.datetime = start
        var picker = openPicker()
        picker.day = 9
        // Where the focus is, the key goes: on Android the window's close handler steps back
        // from wherever else it lands.
        Panel.activate(testCase, win)
        picker.forceActiveFocus()
        tryCompare(picker, "activeFocus", true)
        keyClick(Qt.Key_Back)
        Panel.settle(testCase, win)
        verify(Panel.stackView(win).currentItem === button)
        compare(acceptedSpy.count, 0)
        compare(button.datetime.getTime(), start.getTime())
    }

    // -- texts and icon ----------------------------------------------------------------------

    function test_labelsFollowTheLanguage() {
        var picker = openPicker()
        compare([picker.labelDay.text, picker.labelMonth.text, picker.labelYear.text,
                 picker.labelHour.text, picker.labelMinute.text, picker.buttonAccept.text],
                ["Day", "Month", "Year", "Hour", "Minute", "Accept"])
        translation.setLanguage(1)
        compare([picker.labelDay.text, picker.labelMonth.text, picker.labelYear.text,
                 picker.labelHour.text, picker.labelMinute.text, picker.buttonAccept.text],
                ["Dan", "Mesec", "Godina", "Sat", "Minut", "Prihvati"])
        translation.setLanguage(0)
    }

    function test_crossFollowsTheTheme() {
        var picker = openPicker()
        compare(String(picker.buttonNowImage.source), "qrc:/res/clear_black.png")
        win.gTheme = 0
        compare(String(picker.buttonNowImage.source), "qrc:/res/clear_white.png")
        compare(picker.buttonNowImage.width, picker.buttonNow.height / 2)
        compare(picker.buttonNowImage.height, picker.buttonNow.height / 2)
    }
}
