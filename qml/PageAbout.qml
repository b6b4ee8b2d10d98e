import QtQuick 2.4

PageAboutForm {
    Component.onCompleted: tbMenu.visible = false
    Component.onDestruction: tbMenu.visible = true
}
