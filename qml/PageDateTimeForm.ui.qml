import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.3

Item {
    id: item1

    property alias day: comboBoxDay.currentIndex
    property alias month: comboBoxMonth.currentIndex
    property alias year: comboBoxYear.currentIndex
    property alias hour: comboBoxHour.currentIndex
    property alias minute: comboBoxMinute.currentIndex
    property alias comboBoxYear: comboBoxYear
    property alias comboBoxDay: comboBoxDay
    property alias comboBoxMonth: comboBoxMonth
    property alias comboBoxHour: comboBoxHour
    property alias comboBoxMinute: comboBoxMinute
    property alias buttonAccept: buttonAccept
    property alias buttonNow: buttonNow
    property alias buttonNowImage: buttonNowImage
    property alias labelDay: labelDay
    property alias labelMonth: labelMonth
    property alias labelYear: labelYear
    property alias labelHour: labelHour
    property alias labelMinute: labelMinute

    signal acceptedDateTime(var dt)

    ColumnLayout {
        id: columnLayout
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.topMargin: 8
        anchors.leftMargin: 8
        anchors.rightMargin: 8

        GridLayout {
            id: gridLayout
            columns: 3
            Layout.fillWidth: true

            Label {
                id: labelDay
                text: qsTr("Day") + translation.emptyString
            }
            Label {
                id: labelMonth
                text: qsTr("Month") + translation.emptyString
            }
            Label {
                id: labelYear
                text: qsTr("Year") + translation.emptyString
            }
            ComboBox {
                id: comboBoxDay
                textRole: "id"
                Layout.fillWidth: true
            }
            ComboBox {
                id: comboBoxMonth
                textRole: "id"
                Layout.fillWidth: true
            }
            ComboBox {
                id: comboBoxYear
                textRole: "id"
                Layout.fillWidth: true
            }
            Label {
                id: labelHour
                text: qsTr("Hour") + translation.emptyString
            }
            Label {
                id: labelMinute
                text: qsTr("Minute") + translation.emptyString
            }
            Label {
                id: labelNow
                text: ""
            }
            ComboBox {
                id: comboBoxHour
                textRole: "id"
                Layout.fillWidth: true
            }
            ComboBox {
                id: comboBoxMinute
                textRole: "id"
                Layout.fillWidth: true
            }
            Button {
                id: buttonNow
                Layout.fillWidth: true

                Image {
                    id: buttonNowImage
                    anchors.centerIn: parent
                    width: parent.height / 2
                    height: parent.height / 2
                    source: "res/clear_black.png"
                }
            }
        }

        Button {
            id: buttonAccept
            text: qsTr("Accept") + translation.emptyString
            padding: 6
            topPadding: 6
            Layout.fillWidth: true
        }
    }
}
