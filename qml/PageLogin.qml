import QtQuick 2.7
import QtQuick.Dialogs 1.1
import Qt.labs.settings 1.0
import rs.quorvane 1.0

PageLoginForm {
    id: root

    property bool connecting: false
    property alias msgDialog: msgDialog
    // False until the stored values are in the fields: loading them must not store anything.
    property bool passwordStoreReady: false

    signal pageListActivated(bool val)
    signal busy(bool val)

    busyIndicator.visible: connecting
    busyIndicator.running: connecting

    textFieldServer.placeholderText: qsTr("Server") + translation.emptyString
    textFieldPort.placeholderText: qsTr("Port") + translation.emptyString
    textFieldUser.placeholderText: qsTr("User") + translation.emptyString
    textFieldPassword.placeholderText: qsTr("Password") + translation.emptyString
    checkBoxSavePassword.text: qsTr("Save password") + translation.emptyString
    buttonConnect.text: qsTr("Connect") + translation.emptyString

    buttonConnect.enabled: server !== "" && port !== "" && user !== "" && !connecting

    // The password is kept apart from the other values: it goes to the desktop's secret store,
    // and only while "Save password" is ticked.
    Settings {
        id: settings
        property alias server: root.server
        property alias port: root.port
        property alias user: root.user
        property alias savePassword: root.savePassword
    }

    PasswordVault {
        id: vault
        onLoaded: {
            if (root.password !== "")
                return
            passwordStoreReady = false  // what the store holds needs no writing back
            root.password = password
            passwordStoreReady = true
        }
    }

    labelSessionOnly.visible: savePassword && !vault.available

    MessageDialog {
        id: msgDialog
    }

    function showMessage(title, text) {
        msgDialog.title = title
        msgDialog.text = text
        msgDialog.open()
    }

    function showError(text) {
        showMessage(qsTr("Error") + translation.emptyString, text)
    }

    // A password an older version left in the settings file moves to the secret store.
    function restorePassword() {
        var moved = vault.takeFromSettings(savePassword)
        if (moved !== "")
            password = moved
        else if (savePassword)
            vault.load()
    }

    onPasswordChanged: {
        if (passwordStoreReady && savePassword)
            vault.store(password)
    }

    onSavePasswordChanged: {
        if (!passwordStoreReady)
            return
        if (savePassword)
            vault.store(password)
        else
            vault.erase()
    }

    Component.onCompleted: {
        translation.setLanguage(gLang)
        restorePassword()
        passwordStoreReady = true
    }

    function connectToService() {
        labelReason.text = ""
        connecting = true
        service.connectToServiceAsync("tcp://" + server.trim() + ":" + port.trim() + "/CommService")
    }

    // Return or Enter in any field does what the Connect button would, when it may.
    function connectIfReady() {
        if (buttonConnect.enabled)
            connectToService()
    }

    textFieldServer.onAccepted: connectIfReady()
    textFieldPort.onAccepted: connectIfReady()
    textFieldUser.onAccepted: connectIfReady()
    textFieldPassword.onAccepted: connectIfReady()

    Connections {
        target: buttonConnect
        function onClicked() {
            connectToService()
        }
    }

    Connections {
        target: service

        // Why the session ended stays under the Connect button until the next attempt.
        function onDisconnected() {
            labelReason.text = service.disconnectReason()
        }

        function onConnected(succ, err) {
            connecting = false
            if (succ) {
                console.log("Connected to service.")
                console.log("Login.")
                connecting = true
                service.dbLoginRequest(user.trim(), password)
            } else {
                showError(err)
            }
        }

        function onDbLoginResponse(succ) {
            connecting = false
            console.log("Login response: " + succ)
            if (succ) {
                var page = stackView.push("qrc:/PageList.qml", {"userName": user.trim()})
                page.pageListActivated.connect(root.pageListActivated)
                page.busy.connect(root.busy)
            } else {
                service.disconnectFromService()
                showError(qsTr("Bad username and/or password.") + translation.emptyString)
            }
        }
    }
}
