import QtQuick 2.7
import QtQuick.Controls 2.1
import QtQuick.Layouts 1.0
import QtQuick.Controls.Material 2.1

// Names its field above it once the field holds text and its placeholder has gone.
Label {
    property TextField textField: null

    text: textField && textField.displayText !== "" ? textField.placeholderText : ""
    color: textField && textField.focus ? Material.accent : Material.foreground
}
