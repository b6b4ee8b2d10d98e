import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Dialogs 1.1
import QtQuick.Controls.Material 2.1

PageDetailForm {
    id: root

    property date currentDate: new Date()
    property bool busyCalendar: false
    property bool busyWorkDay: false
    property bool allowCalChange: false

    readonly property color darkDayNumber: "#212121"

    focus: true

    // Colours arrive as 0x00BBGGRR integers: red in the lowest byte, top byte ignored.
    function makeQtColor(c) {
        var blue = (c & 0x00FF0000) >> 16
        var green = (c & 0x0000FF00) >> 8
        var red = c & 0x000000FF
        return Qt.rgba(red / 255, green / 255, blue / 255, 1)
    }

    // Relative luminance of an sRGB colour: 0 for black, 1 for white.
    function luminance(c) {
        function linear(v) {
            return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4)
        }
        return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b)
    }

    // A day number on a coloured cell is dark or white, whichever stands out more from the
    // cell, in either theme; a cell without colour keeps the theme's text colour.
    function dayNumberColor(fill) {
        if (fill.a === 0)
            return Material.foreground
        var fillLuminance = luminance(fill)
        var whiteContrast = 1.05 / (fillLuminance + 0.05)
        var darkContrast = (fillLuminance + 0.05) / (luminance(darkDayNumber) + 0.05)
        return darkContrast >= whiteContrast ? darkDayNumber : "white"
    }

    function isValidDate(d) {
        return d instanceof Date && !isNaN(d.getTime())
    }

    // The grid hands out its days as UTC midnights; the page works with local midnights.
    function localDay(gridDate) {
        return new Date(gridDate.getUTCFullYear(), gridDate.getUTCMonth(), gridDate.getUTCDate())
    }

    function isOnView(d) {
        return d.getFullYear() === monthGrid.year && d.getMonth() === monthGrid.month
    }

    function isSameDay(a, b) {
        return a.getFullYear() === b.getFullYear() && a.getMonth() === b.getMonth()
                && a.getDate() === b.getDate()
    }

    function dayKey(d) {
        return Qt.formatDateTime(d, "yyyy-MM-dd")
    }

    function formatDay(d) {
        return Qt.formatDateTime(d, qsTr("MM/dd/yyyy"))
    }

    function twoDigits(n) {
        return n < 10 ? "0" + n : "" + n
    }

    // Each range excludes its end, except the last one received, which includes it.
    function calendarEntryCovering(paramDate) {
        var last = modelMonthCalData.count - 1
        for (var i = 0; i <= last; ++i) {
            var entry = modelMonthCalData.get(i)
            if (paramDate >= entry.validBegin
                    && (paramDate < entry.validEnd || (i === last && paramDate <= entry.validEnd)))
                return entry
        }
        return null
    }

    function exceptionEntryOn(paramDate) {
        var key = dayKey(paramDate)
        for (var i = 0; i < modelMonthExceptionData.count; ++i) {
            var entry = modelMonthExceptionData.get(i)
            if (entry.validBegin === key)
                return entry
        }
        return null
    }

    function dateCalendarColor(paramDate) {
        var color = "transparent"
        var calendar = calendarEntryCovering(paramDate)
        if (calendar !== null)
            color = makeQtColor(calendar.calColor)
        var exception = exceptionEntryOn(paramDate)
        if (exception !== null)
            color = makeQtColor(exception.dayColor)
        return color
    }

    function dateCalendarName(paramDate) {
        if (!allowCalChange)
            return " "
        var calendar = calendarEntryCovering(paramDate)
        return calendar !== null ? calendar.calName : " "
    }

    function dateExceptionName(paramDate) {
        if (!allowCalChange)
            return " "
        var exception = exceptionEntryOn(paramDate)
        return exception !== null ? exception.dayName : " "
    }

    function showMessage(title, text) {
        msgDialog.title = title
        msgDialog.text = text
        msgDialog.open()
    }

    function showError(text) {
        showMessage(qsTr("Error") + translation.emptyString, text)
    }

    function showInfo(text) {
        showMessage(qsTr("Info") + translation.emptyString, text)
    }

    function showMonthOf(d) {
        comboBoxMonth.currentIndex = d.getMonth()
        comboBoxYear.currentIndex = d.getFullYear() - 2000
    }

    function requestMonth(month, year) {
        service.dbCalEmpHistRequest(empId, month, year)
    }

    function currentName(combo, model) {
        var i = combo.currentIndex
        return (i >= 0 && i < model.count) ? model.get(i).name : ""
    }

    // Builds the question from the chosen entry; an empty list asks nothing.
    function askAssignment(dialog, question, combo, model) {
        if (combo.currentIndex < 0 || combo.currentIndex >= model.count)
            return
        dialog.text = question.arg(model.get(combo.currentIndex).name)
                              .arg(lastName + " " + firstName)
                              .arg(formatDay(currentDate))
        dialog.open()
    }

    function finishAssignment(succ, err) {
        if (succ)
            requestMonth(currentDate.getMonth() + 1, currentDate.getFullYear())
        else
            showError(err)
    }

    function chooseDay(gridDate, logLine) {
        var d = localDay(gridDate)
        console.log(logLine + d)
        if (!isOnView(d))
            return false
        currentDate = d
        return true
    }

    ListModel {
        id: modelCalendarCombo
    }
    ListModel {
        id: modelWorkDayCombo
    }
    ListModel {
        id: modelMonthCalData
    }
    ListModel {
        id: modelMonthExceptionData
    }
    ListModel {
        id: lmYear
    }
    ListModel {
        id: lmMonth
    }

    Menu {
        id: menuAssign
        x: (root.width - width) / 2
        y: (root.height - height) / 2
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        MenuItem {
            id: miAssignCalendar
            text: qsTr("Assign Calendar...") + translation.emptyString
            onTriggered: popupAssignCalendar.open()
        }
        MenuItem {
            id: miAssignException
            text: qsTr("Assign Exception...") + translation.emptyString
            onTriggered: popupAssignException.open()
        }
    }

    MessageDialog {
        id: msgDialog
    }

    MessageDialog {
        id: dlgConfirmationCalendar
        title: qsTr("Confirmation") + translation.emptyString
        standardButtons: StandardButton.Yes | StandardButton.No
        onYes: {
            popupAssignCalendar.close()
            busyCalendar = true
            service.dbCalendarSetRequest(modelCalendarCombo.get(comboBoxCalendar.currentIndex).id,
                                         empId, currentDate)
        }
    }

    MessageDialog {
        id: dlgConfirmationWorkDay
        title: qsTr("Confirmation") + translation.emptyString
        standardButtons: StandardButton.Yes | StandardButton.No
        onYes: {
            popupAssignException.close()
            busyWorkDay = true
            service.dbWorkDaySetRequest(modelWorkDayCombo.get(comboBoxWorkDay.currentIndex).id,
                                        empId, currentDate)
        }
    }

    empImgBG.color: Material.background

    busyIndicator.visible: busyCalendar || busyWorkDay
    busyIndicator.running: busyCalendar || busyWorkDay

    comboBoxCalendar.enabled: !(busyCalendar || busyWorkDay)
    comboBoxWorkDay.enabled: !(busyCalendar || busyWorkDay)
    buttonCalendarSet.enabled: !(busyCalendar || busyWorkDay)
    buttonWorkDaySet.enabled: !(busyCalendar || busyWorkDay)

    comboBoxCalendar.model: modelCalendarCombo
    comboBoxCalendar.textRole: "name"
    comboBoxCalendar.displayText: busyCalendar ? "" : currentName(comboBoxCalendar, modelCalendarCombo)
    comboBoxCalendar.delegate: ItemDelegate {
        width: comboBoxCalendar.width
        text: model.name
        highlighted: comboBoxCalendar.highlightedIndex === index
    }

    comboBoxWorkDay.model: modelWorkDayCombo
    comboBoxWorkDay.textRole: "name"
    comboBoxWorkDay.displayText: busyWorkDay ? "" : currentName(comboBoxWorkDay, modelWorkDayCombo)
    comboBoxWorkDay.delegate: ItemDelegate {
        width: comboBoxWorkDay.width
        text: model.name
        highlighted: comboBoxWorkDay.highlightedIndex === index
    }

    comboBoxMonth.textRole: "id"
    comboBoxYear.textRole: "id"

    butonResetImage.source: appWindow.gTheme === 0 ? "res/clear_white.png" : "res/clear_black.png"

    labelDay.text: formatDay(currentDate) + translation.emptyString
    labelCurrentCalendar.text: dateCalendarName(currentDate)
    labelCurrentException.text: dateExceptionName(currentDate)

    dow.delegate: Text {
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: Material.foreground
        height: implicitHeight
        font: dow.font
        text: model.shortName
    }

    monthGrid.delegate: Rectangle {
        id: cell

        readonly property date day: new Date(model.year, model.month, model.day)
        readonly property bool onView: model.month === monthGrid.month

        height: width
        radius: 90
        color: dateCalendarColor(day)
        border.width: (model.today && onView) ? 4 : 0
        border.color: Material.foreground

        Rectangle {
            width: cell.width
            height: 4
            anchors.bottom: cell.bottom
            color: Material.accent
            visible: cell.onView && isSameDay(cell.day, currentDate)
        }

        Text {
            anchors.fill: parent
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            color: dayNumberColor(cell.color)
            font: monthGrid.font
            text: model.day
            visible: cell.onView
        }
    }

    monthGrid.onMonthChanged: {
        if (allowCalChange) {
            console.log("onMonthChanged")
            requestMonth(monthGrid.month + 1, monthGrid.year)
        }
    }
    monthGrid.onYearChanged: {
        if (allowCalChange) {
            console.log("onYearChanged")
            requestMonth(monthGrid.month + 1, monthGrid.year)
        }
    }
    monthGrid.onClicked: chooseDay(date, "onClicked:")
    monthGrid.onPressAndHold: {
        if (chooseDay(date, "onPressAndHold:"))
            menuAssign.open()
    }

    buttonReset.onClicked: {
        console.log("buttonReset.onClicked")
        var now = new Date()
        showMonthOf(now)
        currentDate = now
    }

    buttonCalendarSet.onClicked: askAssignment(dlgConfirmationCalendar,
                                               qsTr("Assign calendar '%1' to employee '%2' starting from %3?"),
                                               comboBoxCalendar, modelCalendarCombo)
    buttonWorkDaySet.onClicked: askAssignment(dlgConfirmationWorkDay,
                                              qsTr("Assign working day '%1' to employee '%2' on %3?"),
                                              comboBoxWorkDay, modelWorkDayCombo)
    buttonCalendarCancel.onClicked: popupAssignCalendar.close()
    buttonExceptoinCancel.onClicked: popupAssignException.close()

    Connections {
        target: service

        function onDbCalendarListResponseBegin() {
            console.log("onDbCalendarListResponseBegin")
            busyCalendar = true
        }
        function onDbCalendarListResponse(calID, calName) {
            console.log("onDbCalendarListResponse: " + calID + " " + calName)
            modelCalendarCombo.append({ "id": calID, "name": calName })
        }
        function onDbCalendarListResponseEnd() {
            console.log("onDbCalendarListResponseEnd")
            busyCalendar = false
            comboBoxCalendar.currentIndex = 0
            service.dbWorkDayListRequest()
        }

        function onDbWorkDayListResponseBegin() {
            console.log("onDbWorkDayListResponseBegin")
            busyWorkDay = true
        }
        function onDbWorkDayListResponse(workDayID, workDayName) {
            console.log("onDbWorkDayListResponse: " + workDayID + " " + workDayName)
            modelWorkDayCombo.append({ "id": workDayID, "name": workDayName })
        }
        function onDbWorkDayListResponseEnd() {
            console.log("onDbWorkDayListResponseEnd")
            busyWorkDay = false
            comboBoxWorkDay.currentIndex = 0
            requestMonth(currentDate.getMonth() + 1, currentDate.getFullYear())
        }

        function onDbCalEmpHistResponseBegin() {
            console.log("onDbCalEmpHistResponseBegin")
            modelMonthCalData.clear()
            allowCalChange = false
        }
        function onDbCalEmpHistResponse(calName, calColor, validBegin, validEnd) {
            console.log("onDbCalEmpHistResponse: " + calName + " " + calColor + " " + validBegin + " " + validEnd)
            modelMonthCalData.append({ "calName": calName, "calColor": calColor,
                                       "validBegin": validBegin, "validEnd": validEnd })
        }
        function onDbCalEmpHistResponseEnd() {
            console.log("onDbCalEmpHistResponseEnd")
            service.dbExceptionEmpHistRequest(empId, monthGrid.month + 1, monthGrid.year)
        }

        function onDbExceptionEmpHistResponseBegin() {
            console.log("onDbExceptionEmpHistResponseBegin")
            modelMonthExceptionData.clear()
        }
        function onDbExceptionEmpHistResponse(dayName, dayColor, validDay) {
            console.log("onDbExceptionEmpHistResponse: " + dayName + " " + dayColor + " " + validDay)
            modelMonthExceptionData.append({ "dayName": dayName, "dayColor": dayColor,
                                             "validBegin": dayKey(validDay) })
        }
        function onDbExceptionEmpHistResponseEnd() {
            console.log("onDbExceptionEmpHistResponseEnd")
            allowCalChange = true
        }

        function onDbCalendarSetResponse(succ, err) {
            busyCalendar = false
            finishAssignment(succ, err)
        }
        function onDbWorkDaySetResponse(succ, err) {
            busyWorkDay = false
            finishAssignment(succ, err)
        }
    }

    Keys.onBackPressed: {
        event.accepted = true
        stackView.pop()
    }

    Component.onCompleted: {
        // An employee with no registration yet has no last activity: open on today instead.
        if (!isValidDate(currentDate))
            currentDate = new Date()
        var thisYear = new Date().getFullYear()
        for (var year = 2000; year <= thisYear; ++year)
            lmYear.append({ "id": year })
        comboBoxYear.model = lmYear
        for (var month = 1; month <= 12; ++month)
            lmMonth.append({ "id": twoDigits(month) })
        comboBoxMonth.model = lmMonth
        showMonthOf(currentDate)
        service.dbCalendarListRequest()
    }
}
