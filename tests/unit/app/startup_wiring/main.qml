import QtQuick 2.7
import QtQuick.Window 2.2
import Qt.labs.settings 1.0
import rs.quorvane 1.0

// Checks what start-up published, then quits with 42 when all is in place, 1 otherwise.
Window {
    visible: false

    ModelPresence { id: listModel }

    Image {
        id: picture
        source: "image://emp/nobody"
        sourceSize.width: 40
        sourceSize.height: 30
    }

    Settings {
        id: settings
        property int probe: 0
    }

    function problems() {
        var found = []
        if (typeof translation === "undefined" || translation.emptyString !== "")
            found.push("translation")
        if (typeof service === "undefined" || typeof service.dbPresenceRequest !== "function")
            found.push("service")
        if (typeof platform === "undefined" || platform.type !== 0)
            found.push("platform")
        if (Qt.application.version !== "3.0.0" || Qt.application.organization !== "Quorvane"
                || Qt.application.domain !== "quorvane.rs" || Qt.application.name !== "VornaPanel3")
            found.push("identity")
        if (picture.status !== Image.Ready || picture.implicitWidth !== 40 || picture.implicitHeight !== 30)
            found.push("emp provider")
        // A presence answer of the real client reaches the list behind this screen's model.
        service.dbPresenceResponseBegin()
        service.dbPresenceResponse("E1", "Petrović", "Ana", new Date(2024, 2, 7, 9, 5), false,
                                   "Entry", "Sales", "", "Present", 255)
        service.dbPresenceResponseEnd()
        if (listModel.rowCount() !== 1
                || listModel.data(listModel.index(0, 0), 257) !== "Petrović"
                || listModel.data(listModel.index(0, 0), 260) !== "03/07/2024 09:05")
            found.push("service handler")
        return found
    }

    Timer {
        interval: 0
        running: true
        onTriggered: {
            var found = problems()
            if (found.length > 0)
                console.warn("start-up wiring problems: " + found.join(", "))
            settings.probe = 5
            Qt.exit(found.length === 0 ? 42 : 1)
        }
    }
}
