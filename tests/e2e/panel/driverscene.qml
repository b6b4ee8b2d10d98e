// A small scene of the controls the panel uses, for the panel driver's own test.
import QtQuick 2.7
import QtQuick.Controls 2.1
import QtQuick.Dialogs 1.1
import QtQuick.Window 2.2

Window {
    id: scene
    width: 320
    height: 420
    visible: true

    property int clicks: 0
    property int holds: 0
    property int lowClicks: 0
    property string answer: ""

    Column {
        id: column
        width: parent.width

        Button {
            id: plainButton
            text: "Plain"
            onClicked: clicks++
            onPressAndHold: holds++
        }
        Button {
            id: disabledButton
            text: "Off"
            enabled: false
        }
        Button {
            id: hiddenButton
            text: "Hidden"
            visible: false
        }
        TextField {
            id: digits
            width: parent.width
            text: "42"
            validator: IntValidator { bottom: 1; top: 999 }
        }
        ComboBox {
            id: combo
            width: parent.width
            model: 30
        }
        Row {
            id: cells
            Repeater {
                model: 5
                Rectangle {
                    width: 20
                    height: 20
                    color: index === 3 ? "red" : "grey"
                }
            }
        }
    }

    Flickable {
        id: flickable
        y: 300
        width: parent.width
        height: 100
        contentHeight: 700
        clip: true

        Button {
            id: lowButton
            y: 600
            text: "Low"
            onClicked: lowClicks++
        }
    }

    MessageDialog {
        id: question
        title: "Question"
        text: "Go on?"
        standardButtons: StandardButton.Yes | StandardButton.No
        onYes: answer = "yes"
        onNo: answer = "no"
    }
}
