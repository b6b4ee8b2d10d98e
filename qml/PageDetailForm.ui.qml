import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.3
import Qt.labs.calendar 1.0

Item {
    id: item1

    property string empId: ""
    property string lastName: ""
    property string firstName: ""
    property string department: ""
    property string presence: ""

    property alias labelCalendar: labelCalendar
    property alias labelWorkingDay: labelWorkingDay
    property alias busyIndicator: busyIndicator
    property alias comboBoxCalendar: comboBoxCalendar
    property alias buttonCalendarSet: buttonCalendarSet
    property alias comboBoxWorkDay: comboBoxWorkDay
    property alias buttonWorkDaySet: buttonWorkDaySet
    property alias empImgBG: empImgBG
    property alias labelCalendarSet: labelCalendarSet
    property alias labelWorkDaySet: labelWorkDaySet
    property alias comboBoxMonth: comboBoxMonth
    property alias comboBoxYear: comboBoxYear
    property alias columnLayout: columnLayout
    property alias monthGrid: monthGrid
    property alias dow: dow
    property alias labelDay: labelDay
    property alias butonResetImage: butonResetImage
    property alias buttonReset: buttonReset
    property alias labelCurrentException: labelCurrentException
    property alias labelCurrentCalendar: labelCurrentCalendar
    property alias popupAssignCalendar: popupAssignCalendar
    property alias popupAssignException: popupAssignException
    property alias buttonExceptoinCancel: buttonExceptoinCancel
    property alias buttonCalendarCancel: buttonCalendarCancel

    Flickable {
        id: flickable
        anchors.fill: parent
        contentHeight: columnLayout.height + 16

        ScrollBar.vertical: ScrollBar {
            id: sb1
        }

        ColumnLayout {
            id: columnLayout

            // The day cells are as large as both fit: seven across the page (at most 560
            // wide, so a wide window gets a readable column) and six weeks with the rest of
            // the column in the page's height (never below 32, when the page scrolls instead).
            // The whole column takes the grid's width, so its edges line up.
            readonly property int cellSize: Math.floor(Math.min(
                (Math.min(item1.width - 2 * sb1.width, 560) - 6 * monthGrid.spacing) / 7,
                Math.max(32, (flickable.height - 16 - rowLayout1.implicitHeight
                              - rowLayout3.implicitHeight - dow.implicitHeight
                              - grid.implicitHeight - 4 * spacing - 5 * monthGrid.spacing) / 6)))

            width: 7 * cellSize + 6 * monthGrid.spacing
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.top: parent.top
            anchors.topMargin: 8
            spacing: 6

            RowLayout {
                id: rowLayout1
                Layout.fillWidth: true
                spacing: 16

                Rectangle {
                    id: empImgBG
                    Layout.preferredWidth: 100
                    Layout.preferredHeight: 100

                    Image {
                        anchors.fill: parent
                        source: "image://emp/" + empId
                        fillMode: Image.PreserveAspectFit
                        sourceSize.width: empImgBG.height
                        sourceSize.height: empImgBG.height
                        asynchronous: false
                    }
                }

                ColumnLayout {
                    id: columnLayout1
                    Layout.fillWidth: true

                    Label {
                        id: labelEmpId
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: empId
                    }
                    Label {
                        id: labelName
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: lastName + " " + firstName
                    }
                    Label {
                        id: labelDepartment
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: department
                    }
                    Label {
                        id: labelPresence
                        Layout.fillWidth: true
                        elide: Text.ElideRight
                        text: presence
                    }
                    Label {
                        id: labelCalendar
                        visible: false
                        text: qsTr("Calendar")
                    }
                    Label {
                        id: labelWorkingDay
                        visible: false
                        text: qsTr("Working Day")
                    }
                }
            }

            RowLayout {
                id: rowLayout3
                Layout.fillWidth: true

                ComboBox {
                    id: comboBoxMonth
                    Layout.fillWidth: true
                }

                ComboBox {
                    id: comboBoxYear
                    Layout.fillWidth: true
                }

                Button {
                    id: buttonReset
                    text: ""

                    Image {
                        id: butonResetImage
                        anchors.centerIn: parent
                        width: buttonReset.height / 2
                        height: buttonReset.height / 2
                        source: "res/clear_black.png"
                    }
                }
            }

            DayOfWeekRow {
                id: dow
                Layout.fillWidth: true
            }

            MonthGrid {
                id: monthGrid
                Layout.fillWidth: true
                spacing: 4
                month: comboBoxMonth.currentIndex
                year: comboBoxYear.currentIndex + 2000
            }

            Grid {
                id: grid
                columns: 2
                spacing: 5

                Label {
                    text: qsTr("Day") + translation.emptyString
                }
                Label {
                    id: labelDay
                    text: "dd.mm.yy"
                }
                Label {
                    text: qsTr("Calendar") + translation.emptyString
                }
                Label {
                    id: labelCurrentCalendar
                    text: "?"
                }
                Label {
                    text: qsTr("Exception") + translation.emptyString
                }
                Label {
                    id: labelCurrentException
                    text: "?"
                }
            }
        }
    }

    Popup {
        id: popupAssignCalendar
        modal: true
        focus: true
        width: item1.width * 3 / 4
        x: (item1.width - width) / 2
        y: (item1.height - height) / 2
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        ColumnLayout {
            anchors.fill: parent

            Label {
                id: labelCalendarSet
                Layout.fillWidth: true
                text: qsTr("Calendar") + translation.emptyString
            }

            ComboBox {
                id: comboBoxCalendar
                Layout.fillWidth: true
            }

            RowLayout {
                id: rowLayout
                Layout.fillWidth: true

                Button {
                    id: buttonCalendarSet
                    Layout.fillWidth: true
                    text: qsTr("Assign") + translation.emptyString
                }

                Button {
                    id: buttonCalendarCancel
                    text: qsTr("Cancel") + translation.emptyString
                }
            }
        }
    }

    Popup {
        id: popupAssignException
        modal: true
        focus: true
        width: item1.width * 3 / 4
        x: (item1.width - width) / 2
        y: (item1.height - height) / 2
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        ColumnLayout {
            anchors.fill: parent

            Label {
                id: labelWorkDaySet
                Layout.fillWidth: true
                text: qsTr("Exception") + translation.emptyString
            }

            ComboBox {
                id: comboBoxWorkDay
                Layout.fillWidth: true
            }

            RowLayout {
                id: rowLayout2
                Layout.fillWidth: true

                Button {
                    id: buttonWorkDaySet
                    Layout.fillWidth: true
                    text: qsTr("Assign") + translation.emptyString
                }

                Button {
                    id: buttonExceptoinCancel
                    text: qsTr("Cancel") + translation.emptyString
                }
            }
        }
    }

    BusyIndicator {
        id: busyIndicator
        anchors.centerIn: parent
        running: false
        visible: false
    }
}
