import QtQuick 2.4
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.3
import QtQuick.Controls.Material 2.1
import rs.quorvane 1.0

PageListForm {
    id: root

    property bool busyRunning: false
    property string userName: ""

    // Live: after login and after Now, the list follows the service's presence changes. Any
    // other change of the moment (the user picked one) ends it, until Now is pressed again.
    property bool live: true
    // Whether the request under way asks for the present, and whether the rows on screen
    // answered one: only such rows may be called live.
    property bool requestedLive: false
    property bool rowsLive: false
    property date liveUpdated: new Date()
    property bool liveLoading: false
    // A change announced while no reload may start; one reload follows as soon as one may.
    property bool changeWaiting: false
    property bool settingMoment: false
    property string keptStatus: ""
    property string keptEntryText: ""
    property real keptContentY: 0

    signal pageListActivated(bool val)
    signal busy(bool val)

    focus: true

    // Colours arrive as 0x00BBGGRR integers: red in the lowest byte, top byte ignored.
    function makeQtColor(c) {
        var blue = (c & 0x00FF0000) >> 16
        var green = (c & 0x0000FF00) >> 8
        var red = c & 0x000000FF
        return Qt.rgba(red / 255, green / 255, blue / 255, 1)
    }

    function setMoment(moment) {
        settingMoment = true
        buttonDateTime.datetime = moment
        settingMoment = false
    }

    function refresh() {
        if (live)
            setMoment(new Date())
        comboBoxFilter.currentIndex = 0
        listModel.setFilter("", "")
        busyRunning = true
        requestedLive = live
        console.log("Requesting presence.")
        service.dbPresenceRequest(userName, buttonDateTime.datetime)
    }

    // Enter and a status choice move the focus away from the combo box or the field, so that
    // the back key reaches the page; the search timer keeps it where the user is typing.
    function filter(keepFocus) {
        console.log("filter enter")
        listModel.setFilter(chosenPresence(), searchText())
        if (!keepFocus)
            root.forceActiveFocus()
        console.log("filter leave")
    }

    function openSearch() {
        buttonSearch.checked = true
        tfFilter.forceActiveFocus()
    }

    function clearFilter() {
        tfFilter.text = ""
        tmr.stop()
        filter()
    }

    // The status in force; empty for "All" (and before the first answer). While a live reload
    // runs it is the kept one: from its Begin the box holds only "All" until the new entries.
    function chosenPresence() {
        return liveLoading ? keptStatus : statusAt(comboBoxFilter.currentIndex)
    }

    function statusAt(i) {
        return (i > 0 && i < comboFilterModel.count) ? comboFilterModel.get(i).id : ""
    }

    function searchText() {
        return tfFilter.text.trim()
    }

    function entryText(entryId, entryCount) {
        return entryId + " (" + entryCount + ")"
    }

    // The closed combo box stays empty while a load runs, and unchanged while a live one does.
    function currentEntryText() {
        if (liveLoading)
            return keptEntryText
        return busyRunning ? "" : entryTextAt(comboBoxFilter.currentIndex)
    }

    function entryTextAt(i) {
        if (i < 0 || i >= comboFilterModel.count)
            return ""
        var entry = comboFilterModel.get(i)
        return entryText(entry.id, entry.count)
    }

    // Statuses keep the order in which they first occur in the answer; entry 0 is "All".
    // The rows are counted once the answer has ended, by the list's model: the page has no
    // handler per row, whose arguments alone would cost the script engine more than the rest
    // of a row's way to the screen.
    function startCounting() {
        comboFilterModel.clear()
        comboFilterModel.append({ "id": qsTr("All") + translation.emptyString, "count": 0 })
    }

    function publishCounts() {
        var counts = listModel.statusCounts()
        var all = 0
        for (var i = 0; i < counts.length; ++i) {
            all += counts[i].count
            comboFilterModel.append(counts[i])
        }
        comboFilterModel.setProperty(0, "count", all)
    }

    // At most one live reload every 2 s, never while a load runs or another page is on top.
    function reloadIfWaiting() {
        if (!changeWaiting || !live || busyRunning || liveLoading || liveGap.running
                || stackView.currentItem !== root)
            return
        changeWaiting = false
        liveReload()
    }

    // Reloads at the present moment, keeping the status filter, the search text and the rows on
    // screen (as a picture over the list) until the new answer has ended.
    function liveReload() {
        liveGap.restart()
        keptStatus = chosenPresence()
        keptEntryText = currentEntryText()
        liveLoading = true
        keptContentY = listView.contentY
        var grabbing = listView.grabToImage(function (result) {
            imageListSnapshot.source = result.url
            imageListSnapshot.visible = true
            requestLivePresence()
        })
        if (!grabbing)
            requestLivePresence()
    }

    function requestLivePresence() {
        setMoment(new Date())
        requestedLive = true
        console.log("Requesting presence (live).")
        service.dbPresenceRequest(userName, buttonDateTime.datetime)
    }

    // Runs once the answer's End is over: the list's filter lets the rows in from a handler of
    // End that runs after this page's (QML handlers run first), and the view takes them at its
    // next layout. Until then the picture of the old rows stays over the list.
    function finishLiveReload() {
        var kept = -1
        for (var i = 1; i < comboFilterModel.count; ++i) {
            if (comboFilterModel.get(i).id === keptStatus)
                kept = i
        }
        comboBoxFilter.currentIndex = Math.max(kept, 0)
        // A status nobody has any more widens the list to all, as choosing "All" would.
        if (keptStatus !== "" && kept < 0)
            listModel.setFilter("", searchText())
        liveLoading = false
        listView.forceLayout()
        listView.contentY = Math.max(0, Math.min(keptContentY, listView.contentHeight - listView.height))
        imageListSnapshot.visible = false
        imageListSnapshot.source = ""
        reloadIfWaiting()
    }

    ModelPresence {
        id: listModel
    }

    Timer {
        id: liveGap
        interval: 2000
        repeat: false
        onTriggered: reloadIfWaiting()
    }

    ListModel {
        id: comboFilterModel
    }

    Timer {
        id: tmr
        interval: 1000
        repeat: false
        onTriggered: {
            console.log("onTriggered")
            if (searchText() !== "")
                filter(true)
        }
    }

    onBusyRunningChanged: busy(busyRunning)

    busyIndicator.visible: busyRunning
    busyIndicator.running: busyRunning
    buttonDateTime.enabled: !busyRunning
    buttonNow.enabled: !busyRunning

    searchImage.source: appWindow.gTheme === 0 ? "res/search_white.png" : "res/search_black.png"
    buttonNowImage.source: appWindow.gTheme === 0 ? "res/clear_white.png" : "res/clear_black.png"
    buttonClearSearchImage.source: appWindow.gTheme === 0 ? "res/clear_white.png" : "res/clear_black.png"

    comboBoxFilter.model: comboFilterModel
    // A choice among the old answer's entries would not survive the new answer's End.
    comboBoxFilter.enabled: comboBoxFilter.count > 1 && !busyRunning
    comboBoxFilter.displayText: currentEntryText()
    comboBoxFilter.delegate: ItemDelegate {
        width: comboBoxFilter.width
        text: entryText(model.id, model.count)
        highlighted: comboBoxFilter.highlightedIndex === index
    }
    // Before a live reload's answer begins the box still lists the old entries: the choice
    // becomes the status kept for the new answer.
    comboBoxFilter.onActivated: {
        if (liveLoading) {
            keptStatus = statusAt(index)
            keptEntryText = entryTextAt(index)
        }
        filter()
    }

    tfFilter.onTextChanged: {
        tmr.restart()
        console.log("onTextChanged")
    }
    tfFilter.onAccepted: {
        tmr.stop()
        filter()
    }
    buttonClearSearch.onClicked: clearFilter()
    buttonSearch.onCheckedChanged: {
        if (!buttonSearch.checked && searchText() !== "")
            clearFilter()
    }
    // Back to the present at once. A live reload under way already asks for it.
    buttonNow.onClicked: {
        live = true
        if (!liveLoading)
            refresh()
    }
    buttonDateTime.onDatetimeChanged: {
        if (!settingMoment)
            live = false
    }

    liveIndicator.live: live && rowsLive
    liveIndicator.updated: liveUpdated

    listView.model: listModel
    listView.delegate: ItemDelegate {
        id: rowDelegate
        width: listView.width - sb1.width
        height: colLayout.implicitHeight

        onClicked: stackView.push("qrc:/PageDetail.qml", {
                                      "empId": modelEmpId,
                                      "lastName": modelLastName,
                                      "firstName": modelFirstName,
                                      "department": modelDepartment,
                                      "presence": modelPresence,
                                      "currentDate": modelLastActDT
                                  })

        RowLayout {
            anchors.fill: parent
            spacing: 4

            Rectangle {
                Layout.preferredWidth: rowDelegate.height
                Layout.preferredHeight: rowDelegate.height
                color: Material.background

                Image {
                    anchors.fill: parent
                    source: "image://emp/" + modelEmpId
                    fillMode: Image.PreserveAspectFit
                    sourceSize.width: rowDelegate.height
                    sourceSize.height: rowDelegate.height
                    asynchronous: false
                }
            }

            ColumnLayout {
                id: colLayout
                Layout.fillWidth: true
                Layout.fillHeight: false
                spacing: 0

                Label {
                    id: labelEmp
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    text: modelLastName + " " + modelFirstName + " " + modelEmpId
                }
                Label {
                    id: labelDep
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    font.pointSize: labelEmp.font.pointSize * 3 / 4
                    text: modelDepartment
                }
                Label {
                    id: labelLastAct
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    font.pointSize: labelEmp.font.pointSize * 3 / 4
                    color: modelOldReg ? "red" : Material.foreground
                    text: modelLastActDT2 + " " + modelLastActDesc
                }
                Label {
                    id: labelPresence
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    font.pointSize: labelEmp.font.pointSize * 3 / 4
                    text: modelPresence
                }
            }

            Rectangle {
                Layout.preferredWidth: rowDelegate.height * 3 / 4
                Layout.preferredHeight: rowDelegate.height * 3 / 4
                radius: 90
                color: makeQtColor(modelColor)

                Label {
                    anchors.centerIn: parent
                    text: index + 1
                }
            }
        }
    }

    Connections {
        target: service

        function onDbPresenceResponseBegin() {
            console.log("onDbPresenceResponseBegin")
            startCounting()
            if (!liveLoading)
                busyRunning = true
        }

        function onDbPresenceResponseEnd() {
            console.log("onDbPresenceResponseEnd")
            publishCounts()
            rowsLive = requestedLive
            if (rowsLive)
                liveUpdated = new Date()
            if (liveLoading) {
                Qt.callLater(finishLiveReload)
            } else {
                tfFilter.text = ""
                tmr.stop()
                comboBoxFilter.currentIndex = 0
                busyRunning = false
            }
            reloadIfWaiting()
        }

        function onPresenceChanged() {
            if (!live)
                return
            changeWaiting = true
            reloadIfWaiting()
        }
    }

    Connections {
        target: appWindow

        function onRefreshRequest() {
            refresh()
            buttonSearch.checked = false
        }
    }

    Connections {
        target: translation

        function onLanguageChanged() {
            if (comboFilterModel.count > 0)
                comboFilterModel.setProperty(0, "id", qsTr("All") + translation.emptyString)
        }
    }

    StackView.onActivated: {
        pageListActivated(true)
        reloadIfWaiting()
    }
    StackView.onDeactivated: pageListActivated(false)

    Keys.onBackPressed: {
        event.accepted = true
        stackView.pop()
    }

    Component.onCompleted: {
        live = true  // the date-time button's first moment was no choice of the user's
        refresh()
    }
}
