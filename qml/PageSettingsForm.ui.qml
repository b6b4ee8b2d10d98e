import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Layouts 1.3

Item {
    property alias comboBoxLanguage: comboBoxLanguage
    property alias comboBoxTheme: comboBoxTheme
    property alias labelLanguage: labelLanguage
    property alias labelTheme: labelTheme

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

            Label {
                id: labelTheme
                text: "Theme"
                Layout.fillWidth: true
            }
            ComboBox {
                id: comboBoxTheme
                Layout.fillWidth: true
            }
            Label {
                id: labelLanguage
                text: "Language"
                Layout.fillWidth: true
            }
            ComboBox {
                id: comboBoxLanguage
                Layout.fillWidth: true
            }
        }
    }
}
