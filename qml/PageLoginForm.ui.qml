import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Layouts 1.3

Item {
    id: item1

    property alias textFieldServer: textFieldServer
    property alias textFieldPort: textFieldPort
    property alias textFieldUser: textFieldUser
    property alias textFieldPassword: textFieldPassword
    property alias labelSubtitleServer: labelSubtitleServer
    property alias labelSubtitlePort: labelSubtitlePort
    property alias labelSubtitleUser: labelSubtitleUser
    property alias labelSubtitlePassword: labelSubtitlePassword
    property alias checkBoxSavePassword: checkBoxSavePassword
    property alias buttonConnect: buttonConnect
    property alias labelSessionOnly: labelSessionOnly
    property alias labelReason: labelReason
    property alias busyIndicator: busyIndicator
    property alias server: textFieldServer.text
    property alias port: textFieldPort.text
    property alias user: textFieldUser.text
    property alias password: textFieldPassword.text
    property alias savePassword: checkBoxSavePassword.checked

    Flickable {
        id: flickable
        anchors.fill: parent
        flickableDirection: Flickable.VerticalFlick
        contentHeight: columnLayout.height

        ScrollBar.vertical: ScrollBar {
            id: sb1
        }

        ColumnLayout {
            id: columnLayout
            width: flickable.width - 2 * sb1.width
            anchors.top: parent.top
            anchors.topMargin: sb1.width
            anchors.horizontalCenter: parent.horizontalCenter

            LabelSubtitle {
                id: labelSubtitleServer
                textField: textFieldServer
                Layout.fillWidth: true
            }
            TextField {
                id: textFieldServer
                placeholderText: qsTr("Server") + translation.emptyString
                Layout.fillWidth: true
            }
            LabelSubtitle {
                id: labelSubtitlePort
                textField: textFieldPort
                Layout.fillWidth: true
            }
            TextField {
                id: textFieldPort
                placeholderText: qsTr("Port") + translation.emptyString
                validator: IntValidator {
                    bottom: 1
                    top: 65535
                }
                Layout.fillWidth: true
            }
            LabelSubtitle {
                id: labelSubtitleUser
                textField: textFieldUser
                Layout.fillWidth: true
            }
            TextField {
                id: textFieldUser
                placeholderText: qsTr("User") + translation.emptyString
                Layout.fillWidth: true
            }
            LabelSubtitle {
                id: labelSubtitlePassword
                textField: textFieldPassword
                Layout.fillWidth: true
            }
            TextField {
                id: textFieldPassword
                placeholderText: qsTr("Password") + translation.emptyString
                echoMode: TextInput.Password
                Layout.fillWidth: true
            }
            CheckBox {
                id: checkBoxSavePassword
                text: qsTr("Save password") + translation.emptyString
                Layout.fillWidth: true
            }
            SessionOnlyNote {
                id: labelSessionOnly
                visible: false
                Layout.fillWidth: true
            }
            Button {
                id: buttonConnect
                text: qsTr("Connect") + translation.emptyString
                Layout.fillWidth: true
            }
            Label {
                id: labelReason
                visible: text !== ""
                wrapMode: Text.WordWrap
                Layout.fillWidth: true
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
