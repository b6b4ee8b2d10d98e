import QtQuick 2.4
import QtQuick.Controls 2.1

PageDateTimeForm {
    id: root

    property bool showTime: true

    focus: true

    buttonAccept.text: qsTr("Accept") + translation.emptyString
    labelDay.text: qsTr("Day") + translation.emptyString
    labelMonth.text: qsTr("Month") + translation.emptyString
    labelYear.text: qsTr("Year") + translation.emptyString
    labelHour.text: qsTr("Hour") + translation.emptyString
    labelMinute.text: qsTr("Minute") + translation.emptyString

    labelHour.visible: showTime
    labelMinute.visible: showTime
    comboBoxHour.visible: showTime
    comboBoxMinute.visible: showTime

    buttonNowImage.source: appWindow.gTheme === 0 ? "res/clear_white.png" : "res/clear_black.png"

    ListModel {
        id: lmYear
    }
    ListModel {
        id: lmMonth
    }
    ListModel {
        id: lmDay
    }
    ListModel {
        id: lmHour
    }
    ListModel {
        id: lmMinute
    }

    function twoDigits(n) {
        return n < 10 ? "0" + n : "" + n
    }

    // Entries from..to; `label` turns a number into the entry's id.
    function fill(model, from, to, label) {
        for (var n = from; n <= to; ++n)
            model.append({"id": label(n)})
    }

    function setNow() {
        var now = new Date()
        day = now.getDate() - 1
        month = now.getMonth()
        year = now.getFullYear() - 2000
        hour = now.getHours()
        minute = now.getMinutes()
    }

    // The Date constructor carries a day past the month's end into the next month.
    function accept() {
        var dt = new Date(2000 + year, month, day + 1,
                          showTime ? hour : 0, showTime ? minute : 0, 0, 0)
        acceptedDateTime(dt)
        stackView.pop()
    }

    Component.onCompleted: {
        var now = new Date()
        fill(lmYear, 2000, now.getFullYear(), function (n) { return n })
        comboBoxYear.model = lmYear
        fill(lmMonth, 1, 12, twoDigits)
        comboBoxMonth.model = lmMonth
        fill(lmDay, 1, 31, twoDigits)
        comboBoxDay.model = lmDay
        fill(lmHour, 0, 23, twoDigits)
        comboBoxHour.model = lmHour
        fill(lmMinute, 0, 59, twoDigits)
        comboBoxMinute.model = lmMinute
    }

    Connections {
        target: buttonNow
        function onClicked() {
            setNow()
        }
    }

    Connections {
        target: buttonAccept
        function onClicked() {
            accept()
        }
    }

    Keys.onBackPressed: stackView.pop()
}
