import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Layouts 1.3
import QtQuick.Window 2.2
import Qt.labs.settings 1.0
import QtQuick.Controls.Material 2.1

ApplicationWindow {
    id: appWindow
    visible: true
    width: 400
    height: 600
    title: "VornaPanel"

    Material.accent: Material.Orange
    Material.primary: Material.Orange

    property int gLang: 1
    property int gTheme: 1
    property int largeFontSize: dummyLabel.font.pointSize * 2
    property alias tbRefresh: tbRefresh

    signal refreshRequest()

    // Only here to learn the style's label size.
    Label {
        id: dummyLabel
        visible: false
    }

    Settings {
        property alias sLang: appWindow.gLang
        property alias sTheme: appWindow.gTheme
        property alias appWidth: appWindow.width
        property alias appHeight: appWindow.height
    }

    function setTheme() {
        if (gTheme === 0)
            appWindow.Material.theme = Material.Dark
        else
            appWindow.Material.theme = Material.Light
    }

    // Reaching the login page ends the session, whichever page was left; but not an attempt
    // the login page still has under way, whose refusal would read as a bad password. At the
    // login page itself there is nothing to go back to.
    function navigateBack() {
        if (stackView.depth <= 1)
            return
        stackView.pop()
        if (stackView.depth === 1 && !pageLogin.connecting)
            service.disconnectFromService()
    }

    Component.onCompleted: {
        translation.setLanguage(gLang)
        setTheme()
        tbRefresh.visible = false
    }

    // On Android closing is also the back key's last resort: step back while a page is open.
    onClosing: {
        if (platform.type === 1 && stackView.depth > 1) {
            close.accepted = false
            navigateBack()
        }
    }

    header: ToolBar {
        RowLayout {
            anchors.fill: parent

            ToolButton {
                visible: stackView.depth > 1
                font.pointSize: largeFontSize
                onClicked: navigateBack()

                Image {
                    anchors.fill: parent
                    fillMode: Image.PreserveAspectFit
                    source: gTheme === 0 ? "prev.png" : "prev_dark.png"
                }
            }

            Label {
                text: "VornaPanel"
                // Off the window's edge while no back button stands before it.
                leftPadding: stackView.depth > 1 ? 0 : 16
                elide: Label.ElideRight
                horizontalAlignment: Qt.AlignLeft
                verticalAlignment: Qt.AlignVCenter
                Layout.fillWidth: true
                font.pointSize: largeFontSize
            }

            ToolButton {
                id: tbRefresh
                onClicked: appWindow.refreshRequest()

                Image {
                    anchors.fill: parent
                    fillMode: Image.PreserveAspectFit
                    source: gTheme === 0 ? "res/refresh_white.png" : "res/refresh_black.png"
                }
            }

            ToolButton {
                id: tbMenu
                font.pointSize: largeFontSize
                onClicked: menu.open()

                Image {
                    anchors.fill: parent
                    fillMode: Image.PreserveAspectFit
                    source: gTheme === 0 ? "res/menu_white.png" : "res/menu_black.png"
                }
            }
        }
    }

    Menu {
        id: menu
        x: parent.width - width
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

        MenuItem {
            id: miSettings
            text: qsTr("Settings...") + translation.emptyString
            onTriggered: stackView.push("qrc:/PageSettings.qml")
        }
        MenuItem {
            id: miAbout
            text: qsTr("About...") + translation.emptyString
            onTriggered: stackView.push("qrc:/PageAbout.qml")
        }
        MenuItem {
            id: miExit
            text: qsTr("Exit") + translation.emptyString
            onTriggered: Qt.quit()
        }

        // A phone application is left by the system, not from its menu.
        Component.onCompleted: {
            if (platform.type === 1)
                removeItem(2)
        }
    }

    Shortcut {
        sequence: "F5"
        enabled: tbRefresh.visible
        onActivated: appWindow.refreshRequest()
    }

    Shortcut {
        sequence: StandardKey.Find
        enabled: stackView.currentItem !== null && typeof stackView.currentItem.openSearch === "function"
        onActivated: stackView.currentItem.openSearch()
    }

    StackView {
        id: stackView
        anchors.fill: parent

        // The pages' keys pass through here. Escape steps back like the back button; an open
        // popup or menu takes it first.
        focus: true
        Keys.onEscapePressed: navigateBack()

        initialItem: PageLogin {
            id: pageLogin
            onPageListActivated: tbRefresh.visible = val
            onBusy: tbRefresh.visible = !val
        }
    }

    // Whatever ended the session, the user starts again from the login page.
    Connections {
        target: service
        function onDisconnected() {
            console.log("Disconnected from service.")
            stackView.pop(pageLogin)
            tbMenu.visible = true
        }
    }
}
