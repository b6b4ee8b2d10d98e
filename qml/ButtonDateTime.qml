import QtQuick 2.4
import QtQuick.Controls 2.1

// Holds a moment and lets the user pick another one on the picker page.
Button {
    id: root

    property var datetime: new Date()
    property bool showTime: true

    text: showTime ? Qt.formatDateTime(datetime, qsTr("MM/dd/yyyy hh:mm") + translation.emptyString)
                   : Qt.formatDateTime(datetime, qsTr("MM/dd/yyyy") + translation.emptyString)

    onClicked: {
        var page = stackView.push("qrc:/PageDateTime.qml", {"showTime": showTime})
        page.acceptedDateTime.connect(function (dt) {
            root.datetime = dt
        })
        // Only now: the page attached its lists on completion, which reset every selection.
        page.year = datetime.getFullYear() - 2000
        page.month = datetime.getMonth()
        page.day = datetime.getDate() - 1
        page.hour = showTime ? datetime.getHours() : 0
        page.minute = showTime ? datetime.getMinutes() : 0
    }
}
