import QtQuick 2.7
import QtQuick.Controls 2.1
import QtQuick.Dialogs 1.1
import QtTest 1.2
import "panel.js" as Panel
import "items_b.js" as Items

// The employee detail page in the real main window, talking to the scripted service.
TestCase {
    id: testCase
    name: "PageDetail"
    when: windowShown

    property var win: null
    property var stack: null
    property var page: null

    readonly property int shiftA: 0x0080C0FF
    readonly property int shiftB: 0x00FFC080
    readonly property int holiday: 0x008080FF
    readonly property int halfDay: 0x0000FF00

    function init() {
        harness.clearSettings()
        harness.clearMessages()
        service.clearCalls()
        win = createTemporaryObject(Qt.createComponent("qrc:/main.qml"), testCase)
        verify(win !== null, "the main window loads")
        translation.setLanguage(0)
        stack = Panel.stackView(win)
        win.requestActivate()
        tryCompare(win, "active", true)
    }

    function cleanup() {
        translation.setLanguage(0)
    }

    function openDetail(currentDate) {
        page = stack.push("qrc:/PageDetail.qml", {
                              empId: "7", lastName: "Petrović", firstName: "Ana",
                              department: "Production", presence: "Present", currentDate: currentDate
                          })
        verify(page !== null, "the detail page loads")
        tryCompare(stack, "busy", false)
        return page
    }

    function day(year, month, date) {
        return new Date(year, month - 1, date)
    }

    function answerCalendars(calendars) {
        service.dbCalendarListResponseBegin()
        for (var i = 0; i < calendars.length; ++i)
            service.dbCalendarListResponse(calendars[i][0], calendars[i][1])
        service.dbCalendarListResponseEnd()
    }

    function answerWorkDays(workDays) {
        service.dbWorkDayListResponseBegin()
        for (var i = 0; i < workDays.length; ++i)
            service.dbWorkDayListResponse(workDays[i][0], workDays[i][1])
        service.dbWorkDayListResponseEnd()
    }

    // ranges: [name, colour, begin, end]
    function answerHistory(ranges) {
        service.dbCalEmpHistResponseBegin()
        for (var i = 0; i < ranges.length; ++i)
            service.dbCalEmpHistResponse(ranges[i][0], ranges[i][1], ranges[i][2], ranges[i][3])
        service.dbCalEmpHistResponseEnd()
    }

    // exceptions: [name, colour, day]
    function answerExceptions(exceptions) {
        service.dbExceptionEmpHistResponseBegin()
        for (var i = 0; i < exceptions.length; ++i)
            service.dbExceptionEmpHistResponse(exceptions[i][0], exceptions[i][1], exceptions[i][2])
        service.dbExceptionEmpHistResponseEnd()
    }

    function answerChain(ranges, exceptions) {
        answerCalendars([[1, "Shift A"], [2, "Shift B"]])
        answerWorkDays([[5, "Holiday"], [6, "Half day"]])
        answerHistory(ranges)
        answerExceptions(exceptions)
        verify(page.allowCalChange)
    }

    function marchRanges() {
        return [["Shift A", shiftA, day(2018, 3, 1), day(2018, 3, 10)],
                ["Shift B", shiftB, day(2018, 3, 10), day(2018, 3, 31)]]
    }

    function histRequests() {
        return service.calls.filter(function (c) { return c.name === "dbCalEmpHistRequest" })
                .map(function (c) { return c.args.join(" ") })
    }

    function colorOf(date) {
        return page.dateCalendarColor(date)
    }

    function isColor(c, colorInt) {
        return Items.sameColor(c, page.makeQtColor(colorInt))
    }

    function isTransparent(c) {
        return c === "transparent" || (c.a !== undefined && c.a === 0)
    }

    function pressAndHold(item) {
        mousePress(item)
        wait(Qt.styleHints.mousePressAndHoldInterval + 200)
        mouseRelease(item)
    }

    function openAssignPopup(menuIndex, popup) {
        var menu = Items.assignMenu(page)
        menu.open()
        tryCompare(menu, "opened", true)
        mouseClick(menu.itemAt(menuIndex))
        tryCompare(popup, "opened", true)
        tryCompare(menu, "visible", false)
    }

    function test_opens_on_the_month_of_the_last_activity() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        compare(service.callNames(), ["dbCalendarListRequest"], "positioning the lists sends nothing")
        compare(page.comboBoxMonth.currentIndex, 2)
        compare(page.comboBoxMonth.displayText, "03")
        compare(page.comboBoxYear.currentIndex, 18)
        compare(page.comboBoxYear.displayText, "2018")
        compare(page.monthGrid.month, 2)
        compare(page.monthGrid.year, 2018)
        compare(page.comboBoxMonth.count, 12)
        var thisYear = new Date().getFullYear()
        compare(page.comboBoxYear.count, thisYear - 1999, "2000 up to this year")
        compare(page.comboBoxYear.textAt(page.comboBoxYear.count - 1), String(thisYear))

        compare(page.labelDay.text, "03/05/2018")
        translation.setLanguage(1)
        compare(page.labelDay.text, "05.03.2018")
        translation.setLanguage(0)

        compare(page.labelCurrentCalendar.text, " ")
        compare(page.labelCurrentException.text, " ")
        var underlined = Items.findItems(page.monthGrid.contentItem, function (item) {
            return item.radius === 90 && item.children[0].visible
        })
        compare(underlined.length, 1)
        compare(underlined[0].day.getDate(), 5)
        var rings = Items.findItems(page.monthGrid.contentItem, function (item) {
            return item.radius === 90 && item.border.width > 0
        })
        compare(rings.length, 0, "today is not in March 2018")
    }

    function test_request_chain_and_busy_flags() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        service.dbCalendarListResponseBegin()
        verify(page.busyCalendar)
        verify(page.busyIndicator.running && page.busyIndicator.visible)
        verify(!page.comboBoxCalendar.enabled && !page.comboBoxWorkDay.enabled)
        verify(!page.buttonCalendarSet.enabled && !page.buttonWorkDaySet.enabled)
        verify(page.comboBoxMonth.enabled && page.comboBoxYear.enabled && page.buttonReset.enabled)
        service.dbCalendarListResponse(1, "Shift A")
        service.dbCalendarListResponse(2, "Shift B")
        compare(page.comboBoxCalendar.displayText, "", "a list that is loading shows no text")
        service.dbCalendarListResponseEnd()
        verify(!page.busyCalendar)
        compare(page.comboBoxCalendar.currentIndex, 0)
        compare(page.comboBoxCalendar.displayText, "Shift A")
        compare(service.callNames(), ["dbCalendarListRequest", "dbWorkDayListRequest"])

        answerWorkDays([[5, "Holiday"], [6, "Half day"]])
        compare(page.comboBoxWorkDay.displayText, "Holiday")
        verify(page.comboBoxWorkDay.enabled && page.buttonWorkDaySet.enabled)
        compare(service.lastArgs("dbCalEmpHistRequest"), ["7", 3, 2018])

        service.dbCalEmpHistResponseBegin()
        verify(!page.allowCalChange)
        service.dbCalEmpHistResponse("Shift A", shiftA, day(2018, 3, 1), day(2018, 3, 31))
        service.dbCalEmpHistResponseEnd()
        compare(service.lastArgs("dbExceptionEmpHistRequest"), ["7", 3, 2018])
        verify(!page.allowCalChange)
        answerExceptions([])
        verify(page.allowCalChange)
        compare(service.callNames(), ["dbCalendarListRequest", "dbWorkDayListRequest",
                                      "dbCalEmpHistRequest", "dbExceptionEmpHistRequest"])

        var log = harness.messages()
        verify(log.indexOf("onDbCalendarListResponse: 2 Shift B") >= 0)
        verify(log.indexOf("onDbWorkDayListResponse: 5 Holiday") >= 0)
        verify(log.indexOf("onDbCalEmpHistResponse: Shift A " + shiftA + " " + day(2018, 3, 1)
                           + " " + day(2018, 3, 31)) >= 0)
        compare(log.filter(function (m) { return m.indexOf("onDb") === 0 }).length, 13,
                "one line per answer signal")
    }

    function test_month_changes_request_only_when_allowed() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        answerCalendars([[1, "Shift A"]])
        page.comboBoxMonth.currentIndex = 3
        compare(histRequests(), [], "no request before the history is complete")
        answerWorkDays([[5, "Holiday"]])
        answerHistory(marchRanges())
        compare(histRequests(), ["7 3 2018"], "the history of the chosen day's month")
        compare(service.lastArgs("dbExceptionEmpHistRequest"), ["7", 4, 2018],
                "the exceptions of the month on view")
        answerExceptions([])

        page.comboBoxMonth.currentIndex = 5
        compare(histRequests(), ["7 3 2018", "7 6 2018"])
        page.comboBoxYear.currentIndex = 17
        compare(histRequests(), ["7 3 2018", "7 6 2018", "7 6 2017"])
        var log = harness.messages()
        verify(log.indexOf("onMonthChanged") >= 0 && log.indexOf("onYearChanged") >= 0)

        service.dbCalEmpHistResponseBegin()
        page.comboBoxMonth.currentIndex = 7
        compare(histRequests().length, 3, "no request while a month reload runs")
    }

    function test_reset_moves_to_today_and_sends_two_requests() {
        var now = new Date()
        var otherMonth = (now.getMonth() + 6) % 12
        openDetail(new Date(2018, otherMonth, 10, 8, 0))
        answerChain([], [])
        service.clearCalls()
        mouseClick(page.buttonReset)
        compare(page.comboBoxMonth.currentIndex, now.getMonth())
        compare(page.comboBoxYear.currentIndex, now.getFullYear() - 2000)
        compare(histRequests(), ["7 " + (now.getMonth() + 1) + " 2018",
                                 "7 " + (now.getMonth() + 1) + " " + now.getFullYear()])
        verify(Math.abs(page.currentDate.getTime() - now.getTime()) < 5000, "time of day included")
        compare(page.labelDay.text, Qt.formatDateTime(now, "MM/dd/yyyy"))
        verify(harness.messages().indexOf("buttonReset.onClicked") >= 0)
        var today = Items.dayCell(page.monthGrid, now.getDate())
        compare(today.border.width, 4, "today has a ring while its month is on view")
    }

    function test_last_range_includes_its_end() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        answerChain(marchRanges(), [])
        verify(isColor(colorOf(day(2018, 3, 9)), shiftA))
        verify(isColor(colorOf(day(2018, 3, 10)), shiftB), "a range excludes its end")
        verify(isColor(colorOf(day(2018, 3, 31)), shiftB), "the last range includes its end")
        verify(isTransparent(colorOf(day(2018, 4, 1))))
        verify(isColor(Items.dayCell(page.monthGrid, 10).color, shiftB))
        verify(isColor(Items.dayCell(page.monthGrid, 31).color, shiftB))
        verify(isColor(Items.dayCell(page.monthGrid, 1).color, shiftA))
        compare(page.labelCurrentCalendar.text, "Shift A")
        compare(page.dateCalendarName(day(2018, 3, 31)), "Shift B")
    }

    function test_ranges_in_opposite_order() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        var ranges = marchRanges()
        answerChain([ranges[1], ranges[0]], [])
        verify(isColor(colorOf(day(2018, 3, 10)), shiftB), "the range that begins on the day")
        verify(isTransparent(colorOf(day(2018, 3, 31))), "only the last range keeps its end")
        verify(isTransparent(Items.dayCell(page.monthGrid, 31).color))
        verify(Items.dayCell(page.monthGrid, 31).children[1].visible, "a bare cell keeps its number")
        compare(page.dateCalendarName(day(2018, 3, 31)), " ")
    }

    function test_exception_overrides_the_calendar() {
        openDetail(new Date(2018, 2, 12, 9, 45))
        answerCalendars([[1, "Shift A"]])
        answerWorkDays([[5, "Holiday"]])
        answerHistory(marchRanges())
        service.dbExceptionEmpHistResponseBegin()
        service.dbExceptionEmpHistResponse("Holiday", holiday, new Date(2018, 2, 12, 0, 0))
        service.dbExceptionEmpHistResponse("Half day", halfDay, new Date(2018, 2, 12, 0, 0))
        verify(isColor(Items.dayCell(page.monthGrid, 12).color, holiday), "cells colour as rows arrive")
        compare(page.labelCurrentException.text, " ", "names wait for the end of the exceptions")
        compare(page.labelCurrentCalendar.text, " ")
        service.dbExceptionEmpHistResponseEnd()

        verify(isColor(colorOf(day(2018, 3, 12)), holiday), "the first exception of a day wins")
        compare(page.labelCurrentException.text, "Holiday")
        compare(page.labelCurrentCalendar.text, "Shift B", "the calendar name stays")
        verify(isColor(colorOf(day(2018, 3, 13)), shiftB))
        compare(page.dateExceptionName(day(2018, 3, 13)), " ")
    }

    function test_neighbour_cells_are_coloured_but_inert() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        answerChain([["Shift A", shiftA, day(2018, 2, 1), day(2018, 4, 30)]], [])
        var neighbour = Items.neighbourCell(page.monthGrid)
        verify(neighbour !== null)
        verify(isColor(neighbour.color, shiftA))
        verify(!neighbour.children[1].visible, "no number")
        verify(!neighbour.children[0].visible, "no bar")
        compare(neighbour.border.width, 0)

        var chosen = page.currentDate.getTime()
        mouseClick(neighbour)
        compare(page.currentDate.getTime(), chosen)
        pressAndHold(neighbour)
        compare(page.currentDate.getTime(), chosen)
        verify(!Items.assignMenu(page).visible)
        compare(page.comboBoxMonth.currentIndex, 2)
    }

    function test_click_chooses_a_day_of_the_month_on_view() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        answerChain(marchRanges(), [])
        var cell = Items.dayCell(page.monthGrid, 20)
        mouseClick(cell)
        compare(page.currentDate.getTime(), day(2018, 3, 20).getTime())
        compare(page.labelDay.text, "03/20/2018")
        verify(cell.children[0].visible, "the chosen day is underlined")
        verify(!Items.dayCell(page.monthGrid, 5).children[0].visible)
        compare(page.labelCurrentCalendar.text, "Shift B")
        verify(harness.messages().indexOf("onClicked:" + day(2018, 3, 20)) >= 0)
    }

    function test_press_and_hold_opens_the_menu_on_that_day() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        answerChain(marchRanges(), [])
        var menu = Items.assignMenu(page)
        pressAndHold(Items.dayCell(page.monthGrid, 21))
        tryCompare(menu, "opened", true)
        compare(page.currentDate.getTime(), day(2018, 3, 21).getTime())
        compare(menu.itemAt(0).text, "Assign Calendar...")
        compare(menu.itemAt(1).text, "Assign Exception...")
        translation.setLanguage(1)
        compare(menu.itemAt(0).text, "Dodeli kalendar...")
        compare(menu.itemAt(1).text, "Dodeli izuzetak...")
        verify(harness.messages().indexOf("onPressAndHold:" + day(2018, 3, 21)) >= 0)
    }

    function test_calendar_confirmation_in_both_languages() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerChain([], [])
        openAssignPopup(0, page.popupAssignCalendar)
        mouseClick(page.buttonCalendarSet)
        var dialog = Items.openDialog(page)
        verify(dialog !== null)
        compare(dialog.title, "Confirmation")
        compare(dialog.text, "Assign calendar 'Shift A' to employee 'Petrović Ana' starting from 12/21/2017?")
        translation.setLanguage(1)
        compare(dialog.title, "Potvrda")
        compare(dialog.text, "Assign calendar 'Shift A' to employee 'Petrović Ana' starting from 12/21/2017?",
                "a question already asked keeps its language")

        dialog.click(StandardButton.No)
        tryCompare(dialog, "visible", false)
        verify(page.popupAssignCalendar.opened, "No keeps the popup open")
        compare(service.callCount("dbCalendarSetRequest"), 0)

        mouseClick(page.buttonCalendarSet)
        compare(dialog.text, "Dodeliti kalendar 'Shift A' zaposlenom 'Petrović Ana' počev od 21.12.2017?")
        dialog.click(StandardButton.No)
        tryCompare(dialog, "visible", false)
    }

    function test_calendar_assignment_refused_shows_the_service_text() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerChain([], [])
        openAssignPopup(0, page.popupAssignCalendar)
        page.comboBoxCalendar.currentIndex = 1
        mouseClick(page.buttonCalendarSet)
        var dialog = Items.openDialog(page)
        compare(dialog.text, "Assign calendar 'Shift B' to employee 'Petrović Ana' starting from 12/21/2017?")
        service.clearCalls()
        dialog.click(StandardButton.Yes)
        tryCompare(page.popupAssignCalendar, "visible", false)
        verify(page.busyCalendar && page.busyIndicator.running)
        compare(service.callNames(), ["dbCalendarSetRequest"])
        var args = service.lastArgs("dbCalendarSetRequest")
        compare(args[0], 2)
        compare(args[1], "7")
        compare(args[2].getTime(), new Date(2017, 11, 21, 10, 0).getTime())

        var refusal = "The calendar cannot start before the employee was hired. Choose a later day."
        service.dbCalendarSetResponse(false, refusal)
        verify(!page.busyCalendar)
        var error = Items.openDialog(page)
        verify(error !== null && error !== dialog)
        compare(error.title, "Error")
        compare(error.text, refusal)
        compare(histRequests(), [], "nothing is reloaded")
        compare(page.currentDate.getTime(), new Date(2017, 11, 21, 10, 0).getTime())
        error.click(StandardButton.Ok)
    }

    function test_calendar_assignment_accepted_reloads_the_chosen_month() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerChain([], [])
        page.comboBoxMonth.currentIndex = 4
        answerHistory([])
        answerExceptions([])
        service.clearCalls()
        openAssignPopup(0, page.popupAssignCalendar)
        mouseClick(page.buttonCalendarSet)
        Items.openDialog(page).click(StandardButton.Yes)
        service.dbCalendarSetResponse(true, "")
        compare(Items.openDialog(page), null, "success shows no message")
        compare(histRequests(), ["7 12 2017"])
    }

    function test_working_day_assignment() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerChain([], [])
        openAssignPopup(1, page.popupAssignException)
        page.comboBoxWorkDay.currentIndex = 1
        mouseClick(page.buttonWorkDaySet)
        var dialog = Items.openDialog(page)
        compare(dialog.text, "Assign working day 'Half day' to employee 'Petrović Ana' on 12/21/2017?")
        dialog.click(StandardButton.No)
        tryCompare(dialog, "visible", false)
        verify(page.popupAssignException.opened)

        translation.setLanguage(1)
        mouseClick(page.buttonWorkDaySet)
        compare(dialog.text, "Dodeliti radni dan 'Half day' zaposlenom 'Petrović Ana' za dan 21.12.2017?")
        service.clearCalls()
        dialog.click(StandardButton.Yes)
        tryCompare(page.popupAssignException, "visible", false)
        verify(page.busyWorkDay)
        compare(service.lastArgs("dbWorkDaySetRequest")[0], 6)
        compare(service.lastArgs("dbWorkDaySetRequest")[1], "7")

        service.dbWorkDaySetResponse(false, "That day is already closed.")
        verify(!page.busyWorkDay)
        var error = Items.openDialog(page)
        compare(error.title, "Greška")
        compare(error.text, "That day is already closed.")
        error.click(StandardButton.Ok)
        tryCompare(error, "visible", false)
        compare(histRequests(), [])

        openAssignPopup(1, page.popupAssignException)
        mouseClick(page.buttonWorkDaySet)
        Items.openDialog(page).click(StandardButton.Yes)
        service.dbWorkDaySetResponse(true, "")
        compare(histRequests(), ["7 12 2017"])
    }

    function test_cancel_closes_the_popups() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerChain([], [])
        openAssignPopup(0, page.popupAssignCalendar)
        mouseClick(page.buttonCalendarCancel)
        tryCompare(page.popupAssignCalendar, "visible", false)
        openAssignPopup(1, page.popupAssignException)
        mouseClick(page.buttonExceptoinCancel)
        tryCompare(page.popupAssignException, "visible", false)
        compare(Items.openDialog(page), null)
    }

    function test_empty_calendar_list_assigns_nothing() {
        openDetail(new Date(2017, 11, 21, 10, 0))
        answerCalendars([])
        answerWorkDays([])
        compare(page.comboBoxCalendar.displayText, "")
        compare(page.comboBoxWorkDay.displayText, "")
        openAssignPopup(0, page.popupAssignCalendar)
        mouseClick(page.buttonCalendarSet)
        compare(Items.openDialog(page), null)
        compare(service.callCount("dbCalendarSetRequest"), 0)
    }

    // An employee who never registered arrives with no last activity: the page opens on today.
    function test_employee_without_registration_opens_on_today() {
        var list = stack.push("qrc:/PageList.qml", { userName: "ana" })
        tryCompare(stack, "busy", false)
        verify(service.emitPresenceAnswer([{ idEmp: "9", lastName: "Novak", firstName: "Eva",
                                             presence: "Absent", lastActDT: null }]))
        tryVerify(function () { return list.listView.itemAtIndex(0) !== null })
        service.clearCalls()
        mouseClick(list.listView.itemAtIndex(0))
        tryCompare(stack, "depth", 3)
        tryCompare(stack, "busy", false)
        page = stack.currentItem
        compare(page.empId, "9")

        var now = new Date()
        verify(!isNaN(page.currentDate.getTime()))
        compare(page.comboBoxMonth.currentIndex, now.getMonth())
        compare(page.comboBoxYear.currentIndex, now.getFullYear() - 2000)
        compare(page.labelDay.text, Qt.formatDateTime(now, "MM/dd/yyyy"))
        verify(Items.dayCell(page.monthGrid, now.getDate()).children[0].visible, "today is underlined")
        answerCalendars([[1, "Shift A"]])
        answerWorkDays([[5, "Holiday"]])
        compare(histRequests(), ["9 " + (now.getMonth() + 1) + " " + now.getFullYear()])
    }

    function test_back_key_pops_the_page() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        page.forceActiveFocus()
        keyClick(Qt.Key_Back)
        tryCompare(stack, "depth", 1)
    }

    function useTheme(theme) {
        win.gTheme = theme
        win.setTheme()
    }

    function resizeWindow(width, height) {
        win.width = width
        win.height = height
        tryVerify(function () { return page.width === width && page.monthGrid.width > 0 })
        waitForRendering(page)
    }

    function bottomOf(item) {
        return item.mapToItem(page, 0, item.height).y
    }

    function dayNumber(cell) {
        return cell.children[1]
    }

    // Light calendar colours in the dark theme were the hard case: white numbers on pale blue.
    function test_day_numbers_stand_out_from_their_cells_data() {
        return [{ tag: "dark theme", theme: 0 }, { tag: "light theme", theme: 1 }]
    }

    function test_day_numbers_stand_out_from_their_cells(data) {
        openDetail(new Date(2018, 2, 5, 16, 30))
        useTheme(data.theme)
        var paleBlue = 0x00F9CA90     // #90caf9
        var paleViolet = 0x00DB9DB3   // #b39ddb
        var navy = 0x00800000         // #000080
        answerChain([["Shift A", paleBlue, day(2018, 3, 1), day(2018, 3, 10)],
                     ["Shift B", navy, day(2018, 3, 10), day(2018, 3, 20)]],
                    [["Holiday", paleViolet, day(2018, 3, 25)]])

        var onBlue = dayNumber(Items.dayCell(page.monthGrid, 2)).color
        var onViolet = dayNumber(Items.dayCell(page.monthGrid, 25)).color
        var onNavy = dayNumber(Items.dayCell(page.monthGrid, 12)).color
        var bare = dayNumber(Items.dayCell(page.monthGrid, 22)).color
        verify(onBlue.r < 0.3 && onBlue.g < 0.3 && onBlue.b < 0.3, "dark number on pale blue: " + onBlue)
        verify(onViolet.r < 0.3 && onViolet.g < 0.3 && onViolet.b < 0.3, "dark number on pale violet: " + onViolet)
        verify(Items.sameColor(onNavy, Qt.rgba(1, 1, 1, 1)), "white number on navy: " + onNavy)
        verify(Items.sameColor(bare, page.labelDay.color), "an uncoloured cell keeps the theme's text colour")

        // A new month's colours recolour the numbers.
        answerHistory([["Shift B", navy, day(2018, 3, 1), day(2018, 3, 31)]])
        answerExceptions([])
        verify(Items.sameColor(dayNumber(Items.dayCell(page.monthGrid, 2)).color, Qt.rgba(1, 1, 1, 1)))
    }

    // The grid always has six rows; the month and the day's information must still fit.
    function test_month_and_day_information_fit_without_scrolling_data() {
        return [{ tag: "400x600", width: 400, height: 600 },
                { tag: "1280x800", width: 1280, height: 800 }]
    }

    function test_month_and_day_information_fit_without_scrolling(data) {
        openDetail(new Date(2018, 11, 5, 16, 30))
        resizeWindow(data.width, data.height)
        answerChain([["Shift A", shiftA, day(2018, 12, 1), day(2018, 12, 31)]], [])
        verify(bottomOf(page.monthGrid) <= page.height, "the sixth week is on screen")
        verify(bottomOf(page.labelCurrentException) <= page.height,
               "the day's information is on screen: " + bottomOf(page.labelCurrentException))
        var cell = Items.dayCell(page.monthGrid, 31)
        verify(cell.width >= 32, "day cells stay large enough to press: " + cell.width)
        compare(cell.height, cell.width)

        var column = page.columnLayout
        verify(column.width <= 560, "a wide window keeps a readable column: " + column.width)
        var left = column.mapToItem(page, 0, 0).x
        verify(Math.abs(left - (page.width - column.width) / 2) <= 1, "the column is centred")
        verify(Math.abs(page.monthGrid.mapToItem(column, 0, 0).x) <= 1, "the grid spans the column")
        verify(Math.abs(page.dow.width - page.monthGrid.width) <= 1, "day names sit over their columns")

        var photo = page.empImgBG
        var name = Items.itemWithText(page, "Petrović Ana")
        var gap = name.mapToItem(page, 0, 0).x - photo.mapToItem(page, photo.width, 0).x
        verify(gap >= 12, "the labels keep clear of the photo: " + gap)
    }

    function test_reset_icon_follows_the_theme() {
        openDetail(new Date(2018, 2, 5, 16, 30))
        win.gTheme = 0
        compare(String(page.butonResetImage.source), "qrc:/res/clear_white.png")
        win.gTheme = 1
        compare(String(page.butonResetImage.source), "qrc:/res/clear_black.png")
    }
}
