import QtQuick 2.7
import QtQuick.Controls 2.1
import QtTest 1.2
import "panel.js" as Panel
import "items_b.js" as Items

// The presence list page in the real main window. Rows travel the real way: the scripted
// service emits the presence answer, the native service handler fills the list model, and the
// page's filter model shows it.
TestCase {
    id: testCase
    name: "PageList"
    when: windowShown

    property var win: null
    property var stack: null
    property var page: null

    readonly property date lastAct: new Date(2018, 2, 5, 16, 30)

    SignalSpy {
        id: busySpy
        signalName: "busy"
    }

    SignalSpy {
        id: activatedSpy
        signalName: "pageListActivated"
    }

    function row(idEmp, lastName, firstName, presence, extra) {
        var r = { idEmp: idEmp, lastName: lastName, firstName: firstName, lastActDT: lastAct,
                  old: false, lastActDesc: "Entry", department: "Production",
                  picture: harness.picture("steelblue", 40), presence: presence,
                  actColor: 0x0000A000 }
        for (var key in extra)
            r[key] = extra[key]
        return r
    }

    function staff() {
        return [
            row("101", "Petrović", "Ana", "Present"),
            row("102", "Jovanović", "Marko", "Absent", { old: true, lastActDesc: "Exit", actColor: 0x000000D0 }),
            row("103", "Nikolić", "Jelena", "Present"),
            row("104", "Petronijević", "Luka", "On a break", { department: "Warehouse", actColor: 0x0000C0FF }),
            row("205", "Ilić", "Sara", "Absent", { department: "Sales", actColor: 0x000000D0 })
        ]
    }

    function init() {
        harness.clearSettings()
        harness.clearMessages()
        service.clearCalls()
        win = createTemporaryObject(Qt.createComponent("qrc:/main.qml"), testCase)
        verify(win !== null, "the main window loads")
        translation.setLanguage(0)
        stack = Panel.stackView(win)
        page = stack.push("qrc:/PageList.qml", { userName: "ana" })
        verify(page !== null, "the list page loads")
        busySpy.target = page
        busySpy.clear()
        activatedSpy.target = page
        activatedSpy.clear()
        tryCompare(stack, "busy", false)
        win.requestActivate()
        tryCompare(win, "active", true)
    }

    function cleanup() {
        translation.setLanguage(0)
    }

    function answer(rows) {
        verify(service.emitPresenceAnswer(rows))
        tryVerify(function () { return page.listView.count === 0 || page.listView.itemAtIndex(0) !== null })
    }

    function statusEntries() {
        var model = page.comboBoxFilter.model
        var entries = []
        for (var i = 0; i < model.count; ++i)
            entries.push(model.get(i).id + " (" + model.get(i).count + ")")
        return entries
    }

    function shownIds() {
        var ids = []
        for (var i = 0; i < page.listView.count; ++i) {
            var label = Items.findItem(page.listView.itemAtIndex(i), function (item) {
                return typeof item.text === "string" && /^\S+ \S+ \d+$/.test(item.text)
            })
            ids.push(label === null ? null : label.text.split(" ")[2])
        }
        return ids
    }

    function typeText(text) {
        for (var i = 0; i < text.length; ++i)
            keyClick(text[i])
    }

    function showSearch() {
        mouseClick(page.buttonSearch)
        verify(page.rowSearch.visible)
        waitForLayout()
        page.tfFilter.forceActiveFocus()
    }

    // Rows shown or hidden move the controls only at the next polish; clicks wait for it.
    function waitForLayout() {
        tryVerify(function () {
            return !isPolishScheduled(page.rowSearch.parent) && !isPolishScheduled(page.rowSearch)
        })
    }

    function filterByEnter(text) {
        showSearch()
        typeText(text)
        keyClick(Qt.Key_Return)
    }

    // Steps down the status box from the keyboard, as a user would: each step is a choice.
    function chooseStatus(index) {
        while (page.comboBoxFilter.currentIndex < index) {
            page.comboBoxFilter.forceActiveFocus()
            keyClick(Qt.Key_Down)
        }
        compare(page.comboBoxFilter.currentIndex, index)
    }

    function countMessages(line) {
        return harness.messages().filter(function (m) { return m === line }).length
    }

    function test_load_requests_presence_and_leaves_busy_state_at_end() {
        compare(service.callNames(), ["dbPresenceRequest"])
        var args = service.lastArgs("dbPresenceRequest")
        compare(args[0], "ana")
        compare(args[1].getTime(), page.buttonDateTime.datetime.getTime())
        verify(harness.messages().indexOf("Requesting presence.") >= 0)

        verify(page.busyRunning)
        verify(page.busyIndicator.visible && page.busyIndicator.running)
        verify(!page.buttonDateTime.enabled && !page.buttonNow.enabled)
        compare(page.comboBoxFilter.displayText, "")
        verify(!page.rowSearch.visible, "the search rows start hidden")

        answer(staff())
        verify(!page.busyRunning)
        verify(!page.busyIndicator.visible && !page.busyIndicator.running)
        verify(page.buttonDateTime.enabled && page.buttonNow.enabled)
        compare(page.comboBoxFilter.displayText, "All (5)")
        compare(page.listView.count, 5)
        compare(shownIds(), ["101", "102", "103", "104", "205"])
        compare(busySpy.count, 1, "Begin keeps the load running; only End changes it")
        compare(busySpy.signalArguments[0][0], false)
        var log = harness.messages()
        verify(log.indexOf("onDbPresenceResponseBegin") < log.indexOf("onDbPresenceResponseEnd"))
    }

    function test_status_counts_in_first_seen_order() {
        answer([row("1", "A", "A", "B"), row("2", "B", "B", "A"), row("3", "C", "C", "B"),
                row("4", "D", "D", "a"), row("5", "E", "E", "A "), row("6", "F", "F", "A"),
                row("8", "H", "H", "constructor")])
        compare(statusEntries(), ["All (7)", "B (2)", "A (2)", "a (1)", "A  (1)", "constructor (1)"])
        compare(page.comboBoxFilter.currentIndex, 0)
        verify(page.comboBoxFilter.enabled)

        // A new answer replaces the choices rather than adding to them.
        answer([row("7", "G", "G", "X")])
        compare(statusEntries(), ["All (1)", "X (1)"])
    }

    function test_empty_answer_shows_all_zero_and_disables_the_box() {
        answer([])
        compare(statusEntries(), ["All (0)"])
        compare(page.comboBoxFilter.displayText, "All (0)")
        verify(!page.comboBoxFilter.enabled)
        compare(page.listView.count, 0)
    }

    function test_typing_filters_one_second_after_the_last_key() {
        answer(staff())
        showSearch()
        typeText("pe")
        wait(400)
        typeText("t")
        var lastKey = Date.now()
        compare(page.listView.count, 5, "typing alone does not filter")
        tryVerify(function () { return page.listView.count === 2 }, 3000)
        verify(Date.now() - lastKey >= 950, "the wait restarts with every key")
        compare(shownIds(), ["101", "104"])
        compare(countMessages("onTextChanged"), 3)
        var log = harness.messages()
        var triggered = log.indexOf("onTriggered")
        verify(triggered >= 0)
        compare(log.indexOf("filter enter"), triggered + 1)
        verify(page.tfFilter.activeFocus, "the wait's filter leaves the focus in the field")
    }

    function test_typing_across_the_wait_keeps_every_key() {
        answer(staff())
        showSearch()
        typeText("pe")
        tryVerify(function () { return countMessages("filter enter") === 1 }, 3000)
        typeText("tr")
        compare(page.tfFilter.text, "petr")
        verify(page.tfFilter.activeFocus)
        keyClick(Qt.Key_Return)
        compare(shownIds(), ["101", "104"])
        verify(page.activeFocus, "Enter hands the focus to the page, for the back key")
    }

    function test_ctrl_f_opens_the_search_and_focuses_its_field() {
        answer(staff())
        verify(!page.rowSearch.visible)
        Panel.activate(testCase, win)
        keySequence(StandardKey.Find)
        verify(page.rowSearch.visible)
        verify(page.tfFilter.activeFocus)
        typeText("nik")
        compare(page.tfFilter.text, "nik")
    }

    function test_blank_search_text_counts_as_empty() {
        answer(staff())
        showSearch()
        typeText("   ")
        tryVerify(function () { return countMessages("onTriggered") === 1 }, 3000)
        compare(countMessages("filter enter"), 0, "blanks alone do not filter")
        compare(page.listView.count, 5)
        page.tfFilter.forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(countMessages("filter enter"), 1)
        compare(page.listView.count, 5)
    }

    function test_enter_filters_at_once_and_stops_the_wait() {
        answer(staff())
        filterByEnter("nik")
        compare(page.listView.count, 1)
        compare(shownIds(), ["103"])
        wait(1300)
        compare(countMessages("onTriggered"), 0, "Enter stopped the timer")
    }

    function test_answer_end_empties_the_field_and_stops_the_wait() {
        answer(staff())
        chooseStatus(1)
        showSearch()
        typeText("pe")
        answer(staff())
        compare(page.tfFilter.text, "")
        compare(page.comboBoxFilter.currentIndex, 0)
        verify(page.rowSearch.visible, "the search rows stay as they were")
        wait(1300)
        compare(countMessages("onTriggered"), 0)
    }

    function test_search_before_the_first_answer() {
        filterByEnter("x")
        compare(countMessages("filter leave"), 1, "filtering with no status choices yet completes")
        answer(staff())
        compare(page.tfFilter.text, "")
        compare(page.listView.count, 0, "the answer's End leaves the filter model as it was")
    }

    function test_clear_button_widens_the_list() {
        answer(staff())
        filterByEnter("petro")
        compare(page.listView.count, 2)
        mouseClick(page.buttonClearSearch)
        compare(page.tfFilter.text, "")
        compare(page.listView.count, 5)
    }

    function test_unchecking_the_toggle_clears_the_search() {
        answer(staff())
        mouseClick(page.buttonSearch)
        waitForLayout()
        compare(countMessages("filter enter"), 0, "checking only shows the rows")
        verify(page.buttonDateTime.visible && page.buttonNow.visible)
        page.tfFilter.forceActiveFocus()
        typeText("205")
        keyClick(Qt.Key_Return)
        compare(page.listView.count, 1)

        mouseClick(page.buttonSearch)
        verify(!page.rowSearch.visible)
        verify(!page.buttonDateTime.visible && !page.buttonNow.visible)
        compare(page.tfFilter.text, "")
        compare(page.listView.count, 5)
    }

    function test_field_emptied_by_hand_keeps_the_filter_until_enter() {
        answer(staff())
        filterByEnter("petro")
        compare(page.listView.count, 2)
        page.tfFilter.forceActiveFocus()
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keyClick(Qt.Key_Backspace)
        compare(page.tfFilter.text, "")
        tryVerify(function () { return countMessages("onTriggered") === 1 }, 3000)
        compare(page.listView.count, 2, "the last text filter stays in force")
        page.tfFilter.forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(page.listView.count, 5)
    }

    function test_status_choice_filters_and_badges_count_from_one() {
        answer(staff())
        compare(Items.badgeTexts(page.listView, 5), ["1", "2", "3", "4", "5"])
        chooseStatus(1)
        compare(page.comboBoxFilter.displayText, "Present (2)")
        compare(page.listView.count, 2)
        compare(shownIds(), ["101", "103"])
        tryVerify(function () { return page.listView.itemAtIndex(1) !== null })
        compare(Items.badgeTexts(page.listView, 2), ["1", "2"])
        verify(page.activeFocus, "the choice hands the focus to the page")

        // The status and the search text narrow together.
        chooseStatus(2)
        compare(page.comboBoxFilter.displayText, "Absent (2)")
        filterByEnter("il")
        compare(shownIds(), ["205"])
        compare(Items.badgeTexts(page.listView, 1), ["1"])
    }

    function test_makeQtColor_data() {
        return [
            { tag: "255 is red", value: 255, r: 1, g: 0, b: 0 },
            { tag: "65280 is green", value: 65280, r: 0, g: 1, b: 0 },
            { tag: "16711680 is blue", value: 16711680, r: 0, g: 0, b: 1 },
            { tag: "bytes in BBGGRR order", value: 0x00123456, r: 0x56 / 255, g: 0x34 / 255, b: 0x12 / 255 },
            { tag: "high byte ignored", value: 0x7F0000FF, r: 1, g: 0, b: 0 },
            { tag: "negative integer", value: -16711936, r: 0, g: 1, b: 0 }  // 0xFF00FF00
        ]
    }

    function test_makeQtColor(data) {
        var c = page.makeQtColor(data.value)
        verify(Items.sameColor(c, Qt.rgba(data.r, data.g, data.b, 1)),
               "got " + c.r + "," + c.g + "," + c.b + "," + c.a)
    }

    function test_rows_show_badge_colour_picture_and_stale_time_in_red() {
        answer(staff())
        var fresh = page.listView.itemAtIndex(0)
        var stale = page.listView.itemAtIndex(1)
        verify(Items.sameColor(Items.badge(fresh).color, page.makeQtColor(0x0000A000)))
        verify(Items.sameColor(Items.badge(stale).color, page.makeQtColor(0x000000D0)))

        var red = Qt.rgba(1, 0, 0, 1)
        var staleTime = Items.itemWithText(stale, "03/05/2018 16:30 Exit")
        verify(staleTime !== null)
        verify(Items.sameColor(staleTime.color, red))
        var freshTime = Items.itemWithText(fresh, "03/05/2018 16:30 Entry")
        var freshName = Items.itemWithText(fresh, "Petrović Ana 101")
        verify(!Items.sameColor(freshTime.color, red))
        verify(Items.sameColor(freshTime.color, freshName.color))
        verify(Items.itemWithText(fresh, "Production") !== null)
        verify(Items.itemWithText(fresh, "Present") !== null)

        var picture = Items.findItem(fresh, function (item) {
            return item.source !== undefined && String(item.source) === "image://emp/101"
        })
        verify(picture !== null)
        compare(picture.status, Image.Ready)
        compare(picture.sourceSize.height, fresh.height)
        compare(picture.fillMode, Image.PreserveAspectFit)
        compare(fresh.width, page.listView.width - page.sb1.width)
    }

    function test_refresh_resets_all_but_the_chosen_moment() {
        answer(staff())
        var chosen = new Date(2017, 11, 21, 14, 5)
        page.buttonDateTime.datetime = chosen
        chooseStatus(2)
        filterByEnter("205")
        compare(page.listView.count, 1)
        service.clearCalls()

        win.refreshRequest()
        compare(page.comboBoxFilter.currentIndex, 0)
        compare(page.listView.count, 5, "the filter is gone before the answer")
        verify(page.busyRunning)
        verify(!page.buttonSearch.checked && !page.rowSearch.visible)
        compare(page.tfFilter.text, "")
        compare(service.callNames(), ["dbPresenceRequest"])
        compare(service.lastArgs("dbPresenceRequest")[1].getTime(), chosen.getTime())

        answer(staff().slice(0, 3))
        compare(page.comboBoxFilter.displayText, "All (3)")
        compare(page.listView.count, 3)
        compare(page.buttonDateTime.datetime.getTime(), chosen.getTime())
    }

    // -- Live board ----------------------------------------------------------------------------

    function liveRequests() {
        return service.callCount("dbPresenceRequest")
    }

    function test_live_change_reloads_now_keeping_filter_search_and_rows() {
        answer(staff())
        verify(page.liveIndicator.visible)
        chooseStatus(2)  // Absent
        filterByEnter("i")
        compare(shownIds(), ["102", "205"])
        service.clearCalls()

        service.presenceChanged()
        tryVerify(function () { return liveRequests() === 1 }, 2000)
        var moment = service.lastArgs("dbPresenceRequest")[1]
        verify(Math.abs(moment.getTime() - Date.now()) < 5000, "the moment moves to the present")
        verify(!page.busyIndicator.visible, "no busy overlay over the rows")
        verify(page.imageListSnapshot.visible, "the rows on screen stay until the answer ends")

        var changed = staff()
        changed.push(row("306", "Ivić", "Iva", "Absent"))
        answer(changed)
        tryVerify(function () { return !page.imageListSnapshot.visible }, 1000, "the new rows take the old ones' place")
        compare(page.tfFilter.text, "i")
        compare(page.comboBoxFilter.displayText, "Absent (3)")
        compare(shownIds(), ["102", "205", "306"])
    }

    function test_live_reload_keeps_the_reader_where_he_was() {
        var many = []
        for (var i = 0; i < 60; ++i)
            many.push(row(String(400 + i), "Marković", "Ana", "Present"))
        answer(many)
        page.listView.positionViewAtIndex(30, ListView.Beginning)
        var y = page.listView.contentY
        verify(y > 0)
        service.clearCalls()
        service.presenceChanged()
        tryVerify(function () { return liveRequests() === 1 }, 2000)
        verify(service.emitPresenceAnswer(many))
        tryVerify(function () { return !page.imageListSnapshot.visible }, 1000)
        compare(page.listView.contentY, y)
    }

    function test_live_reloads_are_coalesced_and_none_is_lost() {
        answer(staff())
        service.clearCalls()
        service.presenceChanged()
        tryVerify(function () { return liveRequests() === 1 })
        service.presenceChanged()
        service.presenceChanged()
        answer(staff())
        wait(500)
        compare(liveRequests(), 1, "at most one reload every 2 s")
        tryVerify(function () { return liveRequests() === 2 }, 3000, "the waiting change is not dropped")
        answer(staff())
        wait(2300)
        compare(liveRequests(), 2, "two changes in a gap make one reload")
    }

    function test_no_live_reload_under_the_detail_page_until_back() {
        answer(staff())
        service.clearCalls()
        Panel.push(testCase, win, "qrc:/PageAbout.qml")
        service.presenceChanged()
        wait(2300)
        compare(liveRequests(), 0)
        stack.pop()
        tryVerify(function () { return liveRequests() === 1 }, 2000)
    }

    function test_a_picked_moment_ends_live_mode_until_now() {
        answer(staff())
        var chosen = new Date(2017, 11, 21, 14, 5)
        page.buttonDateTime.datetime = chosen
        verify(!page.liveIndicator.visible)
        service.clearCalls()
        service.presenceChanged()
        wait(300)
        compare(liveRequests(), 0, "neither the pick nor a change reloads")
        win.refreshRequest()
        compare(service.lastArgs("dbPresenceRequest")[1].getTime(), chosen.getTime(), "not live: Refresh as always")
        answer(staff().slice(0, 3))

        // Now reloads for the present at once; the picked moment's rows are not live.
        mouseClick(page.buttonSearch)
        waitForLayout()
        service.clearCalls()
        var pressed = new Date()
        mouseClick(page.buttonNow)
        compare(liveRequests(), 1)
        verify(Math.abs(service.lastArgs("dbPresenceRequest")[1].getTime() - pressed.getTime()) < 5000)
        verify(page.busyRunning)
        verify(!page.liveIndicator.visible, "the rows on screen are still the picked moment's")
        answer(staff())
        compare(page.listView.count, 5)
        verify(page.liveIndicator.visible)
        verify(page.liveIndicator.updated.getTime() >= pressed.getTime(), "the time is the new answer's")

        service.clearCalls()
        service.presenceChanged()
        tryVerify(function () { return liveRequests() === 1 }, 2000)
    }

    function rowArgs(r) {
        return [r.idEmp, r.lastName, r.firstName, r.lastActDT, r.old, r.lastActDesc, r.department,
                r.picture, r.presence, r.actColor]
    }

    // While a live reload runs the status box is rebuilt from the new answer; what the user
    // does meanwhile must leave the box and the filter on one status.
    function test_status_box_and_filter_agree_across_a_live_reload_data() {
        return [
            { tag: "Enter in the search field", how: "enter", shown: "Absent (2)", ids: ["102", "205"] },
            { tag: "search timer", how: "timer", shown: "Absent (2)", ids: ["102", "205"] },
            { tag: "status picked before the answer", how: "status", shown: "Present (2)", ids: ["101", "103"] }
        ]
    }

    function test_status_box_and_filter_agree_across_a_live_reload(data) {
        answer(staff())
        chooseStatus(2)  // Absent
        showSearch()
        service.clearCalls()
        service.presenceChanged()
        tryVerify(function () { return liveRequests() === 1 }, 2000)
        if (data.how === "status") {
            page.comboBoxFilter.forceActiveFocus()
            keyClick(Qt.Key_Up)
            compare(page.comboBoxFilter.displayText, "Present (2)")
        }
        var rows = staff()
        verify(service.emitSignal("dbPresenceResponseBegin"))
        verify(service.emitSignal("dbPresenceResponse", rowArgs(rows[0])))
        if (data.how !== "status") {
            compare(page.comboBoxFilter.displayText, "Absent (2)", "the box keeps its text meanwhile")
            page.tfFilter.forceActiveFocus()
            typeText("i")  // in every name
            if (data.how === "enter")
                keyClick(Qt.Key_Return)
            else
                tryVerify(function () { return countMessages("onTriggered") === 1 }, 3000)
        }
        for (var i = 1; i < rows.length; ++i)
            verify(service.emitSignal("dbPresenceResponse", rowArgs(rows[i])))
        verify(service.emitSignal("dbPresenceResponseEnd"))
        tryVerify(function () { return !page.imageListSnapshot.visible }, 1000)
        compare(page.comboBoxFilter.displayText, data.shown)
        tryVerify(function () { return page.listView.count === 0 || page.listView.itemAtIndex(0) !== null })
        compare(shownIds(), data.ids)
    }

    // An ordinary load empties the box at its Begin and selects "All" at its End: a status
    // picked from the old entries before the Begin would filter behind an "All" box.
    function test_status_picked_while_a_load_runs_does_not_outlive_it() {
        answer(staff())
        win.refreshRequest()
        page.comboBoxFilter.forceActiveFocus()
        keyClick(Qt.Key_Down)
        answer(staff())
        compare(page.comboBoxFilter.displayText, "All (5)")
        compare(page.listView.count, 5)
    }

    function test_all_is_retranslated_at_once() {
        answer(staff())
        translation.setLanguage(1)
        compare(page.comboBoxFilter.model.get(0).id, "Svi")
        compare(page.comboBoxFilter.displayText, "Svi (5)")
        compare(statusEntries().slice(1), ["Present (2)", "Absent (2)", "On a break (1)"])
        compare(page.tfFilter.placeholderText, "Filter")
        answer(staff())
        compare(statusEntries()[0], "Svi (5)", "a new answer starts with the current language")
        translation.setLanguage(0)
        compare(page.comboBoxFilter.displayText, "All (5)")
    }

    function test_row_tap_opens_the_employee_on_the_last_activity_day() {
        answer(staff())
        tryCompare(activatedSpy, "count", 1)
        compare(activatedSpy.signalArguments[0][0], true)
        mouseClick(page.listView.itemAtIndex(3))
        tryCompare(stack, "busy", false)
        var detail = stack.currentItem
        compare(detail.empId, "104")
        compare(detail.lastName, "Petronijević")
        compare(detail.firstName, "Luka")
        compare(detail.department, "Warehouse")
        compare(detail.presence, "On a break")
        compare(detail.currentDate.getTime(), lastAct.getTime())
        tryCompare(activatedSpy, "count", 2)
        compare(activatedSpy.signalArguments[1][0], false)

        stack.pop()
        tryCompare(activatedSpy, "count", 3)
        compare(activatedSpy.signalArguments[2][0], true)
    }

    function test_back_key_pops_without_disconnecting() {
        answer(staff())
        page.forceActiveFocus()
        keyClick(Qt.Key_Back)
        tryCompare(stack, "depth", 1)
        compare(service.callCount("disconnectFromService"), 0)
        tryCompare(activatedSpy, "count", 2)
        compare(activatedSpy.signalArguments[1][0], false, "popping deactivates the page")
    }

    function test_wide_window_keeps_the_badge_near_the_name() {
        win.width = 1280
        win.height = 800
        tryCompare(page, "width", 1280)
        answer(staff())
        waitForRendering(page)
        var row = page.listView.itemAtIndex(0)
        var name = Items.itemWithText(row, "Petrović Ana 101")
        var badge = Items.badge(row)
        var reach = badge.mapToItem(row, badge.width, 0).x - name.mapToItem(row, 0, 0).x
        verify(reach <= 720, "the badge sits near the name: " + reach)
        var list = page.listView
        var left = list.mapToItem(page, 0, 0).x
        verify(Math.abs(left - (page.width - list.width) / 2) <= 1, "the list is centred")
        var box = page.comboBoxFilter
        verify(Math.abs(box.mapToItem(page, 0, 0).x - left) <= 1, "the status box lines up with the list")

        win.width = 400
        tryCompare(page, "width", 400)
        compare(list.width, 400 - 16, "a narrow window keeps its margins only")
    }

    // "No registration" rows come with no time and no description: rows must stay even.
    function test_row_without_registration_keeps_its_height() {
        var rows = staff()
        rows.splice(1, 0, row("150", "Novak", "Eva", "No registration", { lastActDT: null, lastActDesc: "" }))
        answer(rows)
        tryVerify(function () { return page.listView.itemAtIndex(2) !== null })
        var empty = page.listView.itemAtIndex(1)
        verify(Items.itemWithText(empty, "Novak Eva 150") !== null)
        compare(empty.height, page.listView.itemAtIndex(0).height)
        compare(empty.height, page.listView.itemAtIndex(2).height)
        var status = Items.itemWithText(empty, "No registration")
        var department = Items.itemWithText(empty, "Production")
        verify(status.mapToItem(empty, 0, 0).y - department.mapToItem(empty, 0, 0).y >= 2 * department.height - 1,
               "an empty line stays between department and status")
    }

    function test_icons_follow_the_theme() {
        win.gTheme = 0
        compare(String(page.searchImage.source), "qrc:/res/search_white.png")
        compare(String(page.buttonNowImage.source), "qrc:/res/clear_white.png")
        compare(String(page.buttonClearSearchImage.source), "qrc:/res/clear_white.png")
        win.gTheme = 1
        compare(String(page.searchImage.source), "qrc:/res/search_black.png")
        compare(String(page.buttonNowImage.source), "qrc:/res/clear_black.png")
        compare(String(page.buttonClearSearchImage.source), "qrc:/res/clear_black.png")
    }
}
