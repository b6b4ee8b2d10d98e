import QtQuick 2.7
import QtQuick.Controls 2.0
import QtQuick.Controls.Material 2.1
import QtTest 1.2
import "panel.js" as Panel

TestCase {
    id: testCase
    name: "PageLogin"
    when: windowShown

    SignalSpy {
        id: activatedSpy
        signalName: "pageListActivated"
    }

    SignalSpy {
        id: busySpy
        signalName: "busy"
    }

    function init() {
        platform.type = 0
        harness.clearSettings()
        // English texts unless a test says otherwise.
        harness.setSettingsValue("sLang", 0)
        service.clearCalls()
        activatedSpy.clear()
        busySpy.clear()
    }

    function cleanup() {
        // A dialog is a window of its own; never leave one open for the next test.
        if (page && page.msgDialog.visible)
            page.msgDialog.close()
        page = null
    }

    property var win: null
    property var page: null

    function openLogin() {
        win = Panel.createWindow(testCase)
        page = Panel.loginPage(win)
        return page
    }

    function fill(server, port, user, password) {
        page.server = server
        page.port = port
        page.user = user
        page.password = password
    }

    // Types `text` into `field` key by key, as a user would.
    function type(field, text) {
        Panel.activate(testCase, win)
        field.forceActiveFocus()
        tryCompare(field, "activeFocus", true)
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }

    // -- Connect button ----------------------------------------------------------------------

    function test_connectNeedsServerPortAndUser_data() {
        return [
            {tag: "all empty", server: "", port: "", user: "", enabled: false},
            {tag: "no server", server: "", port: "50051", user: "ana", enabled: false},
            {tag: "no port", server: "localhost", port: "", user: "ana", enabled: false},
            {tag: "no user", server: "localhost", port: "50051", user: "", enabled: false},
            {tag: "no password needed", server: "localhost", port: "50051", user: "ana", enabled: true},
            // Blanks count as filled: the check takes the texts as typed.
            {tag: "blank server", server: " ", port: "50051", user: "ana", enabled: true},
        ]
    }

    function test_connectNeedsServerPortAndUser(data) {
        openLogin()
        fill(data.server, data.port, data.user, "")
        compare(page.buttonConnect.enabled, data.enabled)
    }

    function test_returnInAnyFieldConnectsWhenTheButtonMay_data() {
        return [{tag: "server", field: "textFieldServer"}, {tag: "port", field: "textFieldPort"},
                {tag: "user", field: "textFieldUser"}, {tag: "password", field: "textFieldPassword"}]
    }

    function test_returnInAnyFieldConnectsWhenTheButtonMay(data) {
        openLogin()
        fill("vorna.example", "50051", "", "secret")
        type(page[data.field], "")
        keyClick(Qt.Key_Return)
        compare(service.callCount("connectToServiceAsync"), 0, "no user: the button may not connect")
        page.user = "ana"
        keyClick(Qt.Key_Enter)
        compare(service.lastArgs("connectToServiceAsync"), ["tcp://vorna.example:50051/CommService"])
    }

    function test_tabWalksTheFieldsInOrder() {
        openLogin()
        type(page.textFieldServer, "")
        var order = [page.textFieldPort, page.textFieldUser, page.textFieldPassword]
        for (var i = 0; i < order.length; ++i) {
            keyClick(Qt.Key_Tab)
            verify(order[i].activeFocus, "step " + (i + 1))
        }
    }

    function test_connectSendsTrimmedUrlAndShowsBusy() {
        openLogin()
        fill("  vorna.example  ", " 50051 ", " ana ", " pass word ")
        verify(!page.busyIndicator.visible)
        mouseClick(page.buttonConnect)

        compare(service.callNames(), ["connectToServiceAsync"])
        compare(service.lastArgs("connectToServiceAsync"), ["tcp://vorna.example:50051/CommService"])
        verify(page.connecting)
        verify(!page.buttonConnect.enabled)
        verify(page.busyIndicator.visible)
        verify(page.busyIndicator.running)
        // In the middle of the page.
        compare(page.busyIndicator.x + page.busyIndicator.width / 2, page.width / 2)
        compare(page.busyIndicator.y + page.busyIndicator.height / 2, page.height / 2)
    }

    function test_connectedLogsInWithTrimmedUserAndPasswordAsTyped() {
        openLogin()
        fill("localhost", "50051", "  ana  ", " pass word ")
        page.buttonConnect.clicked()
        harness.clearMessages()
        service.connected(true, "")

        compare(service.callNames(), ["connectToServiceAsync", "dbLoginRequest"])
        compare(service.lastArgs("dbLoginRequest"), ["ana", " pass word "])
        verify(page.connecting)
        verify(page.busyIndicator.running)
        compare(harness.messages(), ["Connected to service.", "Login."])
    }

    function test_connectFailureShowsTheServiceText() {
        openLogin()
        fill("localhost", "50051", "ana", "")
        page.buttonConnect.clicked()
        var err = "Cannot reach the attendance service at localhost:50051 (connection refused). Is the service running?"
        service.connected(false, err)

        verify(!page.connecting)
        verify(!page.busyIndicator.visible)
        verify(page.buttonConnect.enabled)
        tryCompare(page.msgDialog, "visible", true)
        compare(page.msgDialog.title, "Error")
        compare(page.msgDialog.text, err)
        compare(service.callNames(), ["connectToServiceAsync"])
    }

    function test_refusedLoginDisconnectsAndShowsError_data() {
        return [
            {tag: "English", lang: 0, title: "Error", text: "Bad username and/or password."},
            {tag: "Serbian", lang: 1, title: "Greška", text: "Loše korisničko ime i/ili lozinka."},
        ]
    }

    function test_refusedLoginDisconnectsAndShowsError(data) {
        harness.setSettingsValue("sLang", data.lang)
        openLogin()
        fill("localhost", "50051", "ana", "wrong")
        page.buttonConnect.clicked()
        service.connected(true, "")
        harness.clearMessages()
        service.dbLoginResponse(false)

        verify(!page.connecting)
        compare(service.callNames(), ["connectToServiceAsync", "dbLoginRequest", "disconnectFromService"])
        tryCompare(page.msgDialog, "visible", true)
        compare(page.msgDialog.title, data.title)
        compare(page.msgDialog.text, data.text)
        compare(harness.messages(), ["Login response: false"])
        compare(Panel.stackView(win).depth, 1)

        // The service then reports the disconnection: nothing visible changes.
        service.disconnected()
        compare(Panel.stackView(win).depth, 1)
        verify(page.msgDialog.visible)
    }

    function test_acceptedLoginPushesTheListWithTrimmedUser() {
        openLogin()
        fill("localhost", "50051", "  ana  ", "secret")
        page.buttonConnect.clicked()
        service.connected(true, "")
        harness.clearMessages()
        service.dbLoginResponse(true)

        verify(!page.connecting)
        compare(harness.messages()[0], "Login response: true")
        var stack = Panel.stackView(win)
        compare(stack.depth, 2)
        compare(stack.currentItem.userName, "ana")
        verify(!page.msgDialog.visible)
        Panel.settle(testCase, win)
    }

    function test_listSignalsAreRelayed() {
        openLogin()
        fill("localhost", "50051", "ana", "")
        page.buttonConnect.clicked()
        service.connected(true, "")
        service.dbLoginResponse(true)
        var list = Panel.stackView(win).currentItem
        Panel.settle(testCase, win)

        activatedSpy.target = page
        busySpy.target = page
        list.pageListActivated(false)
        list.busy(true)
        list.pageListActivated(true)
        compare(activatedSpy.count, 2)
        compare(activatedSpy.signalArguments[0][0], false)
        compare(activatedSpy.signalArguments[1][0], true)
        compare(busySpy.count, 1)
        compare(busySpy.signalArguments[0][0], true)
        // The window shows the refresh button from the relays.
        verify(win.tbRefresh.visible)
        list.busy(true)
        verify(!win.tbRefresh.visible)
    }

    // -- Escape ------------------------------------------------------------------------------

    // Nothing lies below the login page: Escape there, or Escape back to it from a page the user
    // opened meanwhile, must not end the attempt (its refusal would read as a bad password).
    function test_escapeLeavesTheAttemptAlone_data() {
        return [
            {tag: "idle", step: "idle", over: ""},
            {tag: "connecting", step: "connecting", over: ""},
            {tag: "logging in", step: "logging in", over: ""},
            {tag: "back from Settings while logging in", step: "logging in", over: "qrc:/PageSettings.qml"},
        ]
    }

    function test_escapeLeavesTheAttemptAlone(data) {
        openLogin()
        fill("localhost", "50051", "ana", "secret")
        if (data.step !== "idle")
            page.buttonConnect.clicked()
        if (data.step === "logging in")
            service.connected(true, "")
        if (data.over !== "") {
            Panel.push(testCase, win, data.over)
            Panel.activate(testCase, win)
        } else {
            type(page.textFieldPassword, "")
        }
        keyClick(Qt.Key_Escape)
        Panel.settle(testCase, win)

        var stack = Panel.stackView(win)
        compare(stack.depth, 1)
        compare(service.callCount("disconnectFromService"), 0)
        compare(page.connecting, data.step !== "idle")
        if (data.step === "idle")
            return
        if (data.step === "connecting")
            service.connected(true, "")
        service.dbLoginResponse(true)
        compare(stack.depth, 2, "the attempt goes on to the list")
        verify(!page.msgDialog.visible)
        Panel.settle(testCase, win)
    }

    // -- fields ------------------------------------------------------------------------------

    function test_portRefusesWhatIsNoPort() {
        openLogin()
        type(page.textFieldPort, "5a0-0 51")
        compare(page.port, "50051")
        // No sixth digit; a five-digit value above the top stays unacceptable.
        page.port = ""
        type(page.textFieldPort, "655361")
        compare(page.port, "65536")
        verify(!page.textFieldPort.acceptableInput)
        page.port = ""
        type(page.textFieldPort, "65535")
        verify(page.textFieldPort.acceptableInput)
    }

    function test_subtitleShowsTheFieldNameOnceTheFieldHoldsText() {
        openLogin()
        var label = page.labelSubtitleUser
        compare(label.text, "")
        type(page.textFieldUser, "a")
        compare(label.text, "User")
        compare(label.color, page.Material.accent)
        // Another field takes the focus.
        page.textFieldServer.forceActiveFocus()
        compare(label.color, page.Material.foreground)
        compare(page.labelSubtitleServer.text, "")
        // A masked field counts as filled too.
        page.password = "x"
        compare(page.labelSubtitlePassword.text, "Password")
    }

    function test_textsFollowTheLanguage() {
        openLogin()
        page.user = "ana"
        compare(page.textFieldServer.placeholderText, "Server")
        compare(page.textFieldUser.placeholderText, "User")
        compare(page.checkBoxSavePassword.text, "Save password")
        compare(page.buttonConnect.text, "Connect")
        translation.setLanguage(1)
        compare(page.textFieldUser.placeholderText, "Korisnik")
        compare(page.textFieldPassword.placeholderText, "Lozinka")
        compare(page.textFieldPort.placeholderText, "Port")
        compare(page.checkBoxSavePassword.text, "Zapamti lozinku")
        compare(page.buttonConnect.text, "Povezivanje")
        compare(page.labelSubtitleUser.text, "Korisnik")
        compare(page.user, "ana")
        translation.setLanguage(0)
        compare(page.labelSubtitleUser.text, "User")
    }

    // -- remembered values -------------------------------------------------------------------

    function restart() {
        win.destroy()
        wait(0)
        return openLogin()
    }

    function test_valuesAreRestoredAtStart() {
        openLogin()
        fill("vorna.example", "50051", "ana", "secret")
        page.savePassword = true
        restart()
        compare(page.server, "vorna.example")
        compare(page.port, "50051")
        compare(page.user, "ana")
        tryCompare(page, "password", "secret")
        verify(page.savePassword)
    }

    // -- Saved password: the secret store, never the settings file --------------------------

    function test_passwordIsNeverStoredWhileUnticked() {
        openLogin()
        verify(!page.savePassword)
        type(page.textFieldPassword, "secret")
        compare(page.password, "secret")
        // Longer than the settings element's write delay.
        wait(700)
        compare(harness.storedSecret(), undefined)
        verify(!harness.settingsContains("password"))
        restart()
        compare(page.password, "")
    }

    function test_tickedPasswordGoesToTheSecretStoreOnly() {
        openLogin()
        page.savePassword = true
        type(page.textFieldPassword, " se cret ")
        tryVerify(function () { return harness.storedSecret() === " se cret " })
        wait(700)
        verify(!harness.settingsContains("password"), "never in the settings file")
        restart()
        tryCompare(page, "password", " se cret ")
        verify(!page.labelSessionOnly.visible)
    }

    function test_untickingErasesTheStoredPassword() {
        openLogin()
        page.password = "secret"
        page.savePassword = true
        tryVerify(function () { return harness.storedSecret() === "secret" })
        page.savePassword = false
        tryVerify(function () { return harness.storedSecret() === undefined })
        // The field keeps what was typed; the store forgets it.
        compare(page.password, "secret")
        restart()
        compare(page.password, "")
    }

    function test_plainTextPasswordIsMovedAtStart_data() {
        return [{tag: "ticked", ticked: true, kept: "old secret"},
                {tag: "unticked", ticked: false, kept: undefined}]
    }

    function test_plainTextPasswordIsMovedAtStart(data) {
        harness.setSettingsValue("password", "old secret")
        harness.setSettingsValue("savePassword", data.ticked)
        openLogin()
        verify(!harness.settingsContains("password"), "erased from the settings file")
        compare(page.password, data.ticked ? "old secret" : "")
        tryVerify(function () { return harness.storedSecret() === data.kept })
    }

    function test_withoutASecretStoreThePasswordLastsTheSession() {
        harness.setSecretStoreAvailable(false)
        openLogin()
        page.savePassword = true
        type(page.textFieldPassword, "secret")
        tryVerify(function () { return page.labelSessionOnly.visible }, 2000, "the check box says so")
        compare(page.password, "secret")
        verify(!harness.settingsContains("password"))
        page.savePassword = false
        verify(!page.labelSessionOnly.visible)
    }

    // -- Why the session ended -----------------------------------------------------------------

    function test_reasonLineShowsWhyUntilTheNextAttempt() {
        openLogin()
        verify(!page.labelReason.visible)
        service.setDisconnectReason("Your session has expired. Log in again.")
        service.disconnected()
        compare(page.labelReason.text, "Your session has expired. Log in again.")
        verify(page.labelReason.visible)
        fill("vorna.example", "50051", "ana", "secret")
        mouseClick(page.buttonConnect)
        verify(!page.labelReason.visible, "a new attempt clears it")
        service.setDisconnectReason("")
    }
}
