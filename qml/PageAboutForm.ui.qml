import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.3

Item {
    id: item1

    ColumnLayout {
        id: columnLayout
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.topMargin: 8
        anchors.leftMargin: 8
        anchors.rightMargin: 8

        Label {
            id: labelVornaPanel
            text: "VornaPanel"
            font.pointSize: 24
        }
        Label {
            id: labelVersion
            text: "Version 3.0.2.10"
        }
        Label {
            id: labelCopyrigh
            text: "Copyright © 2016-2018 Quorvane d.o.o."
        }
        Label {
            id: labelAllRights
            text: "All rights reserved."
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }
    }
}
