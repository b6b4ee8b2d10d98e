import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.3

Item {
    property alias listView: listView
    property alias comboBoxFilter: comboBoxFilter
    property alias sb1: sb1
    property alias tfFilter: tfFilter
    property alias buttonClearSearch: buttonClearSearch
    property alias buttonSearch: buttonSearch
    property alias rowSearch: rowSearch
    property alias busyIndicator: busyIndicator
    property alias buttonDateTime: buttonDateTime
    property alias buttonNow: buttonNow
    property alias searchImage: searchImage
    property alias buttonNowImage: buttonNowImage
    property alias buttonClearSearchImage: buttonClearSearchImage
    property alias liveIndicator: liveIndicator
    property alias imageListSnapshot: imageListSnapshot

    Page {
        id: page
        // On a wide window the rows keep a readable width: the badge stays near the name.
        width: Math.min(parent.width - 16, 720)
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.margins: 8

        header: ColumnLayout {
            LiveIndicator {
                id: liveIndicator
                Layout.fillWidth: true
            }

            RowLayout {
                Layout.fillWidth: true

                ComboBox {
                    id: comboBoxFilter
                    Layout.fillWidth: true
                    enabled: comboBoxFilter.count > 1
                }

                Button {
                    id: buttonSearch
                    checkable: true

                    Image {
                        id: searchImage
                        anchors.centerIn: parent
                        width: buttonSearch.height / 2
                        height: buttonSearch.height / 2
                        source: "res/search_white.png"
                    }
                }
            }

            RowLayout {
                id: rowSearch
                Layout.fillWidth: true
                visible: buttonSearch.checked

                TextField {
                    id: tfFilter
                    Layout.fillWidth: true
                    placeholderText: qsTr("Filter")
                }

                Button {
                    id: buttonClearSearch

                    Image {
                        id: buttonClearSearchImage
                        anchors.centerIn: parent
                        width: buttonClearSearch.height / 2
                        height: buttonClearSearch.height / 2
                        source: "res/clear_white.png"
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                visible: buttonSearch.checked

                ButtonDateTime {
                    id: buttonDateTime
                    Layout.fillWidth: true
                }

                Button {
                    id: buttonNow

                    Image {
                        id: buttonNowImage
                        anchors.centerIn: parent
                        width: buttonNow.height / 2
                        height: buttonNow.height / 2
                        source: "res/clear_white.png"
                    }
                }
            }
        }

        // Stands over the list while a live reload runs, so the rows on screen stay put.
        Image {
            id: imageListSnapshot
            anchors.fill: listView
            visible: false
            z: 1
        }

        ListView {
            id: listView
            anchors.fill: parent
            spacing: 4
            clip: true

            ScrollBar.vertical: ScrollBar {
                id: sb1
            }
        }

        BusyIndicator {
            id: busyIndicator
            anchors.centerIn: listView
            running: false
            visible: false
        }
    }
}
