import QtQuick 2.7
import QtQuick.Controls 2.1
import QtQuick.Controls.Material 2.1

// Says that the list follows the service's changes, and when it last did.
Label {
    property bool live: false
    property date updated: new Date()

    visible: live
    text: qsTr("Live, updated %1").arg(Qt.formatTime(updated, "hh:mm:ss")) + translation.emptyString
    color: Material.accent
    font.pointSize: Qt.application.font.pointSize * 3 / 4
}
