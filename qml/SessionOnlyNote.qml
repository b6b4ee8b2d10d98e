import QtQuick 2.7
import QtQuick.Controls 2.1

// Beside "Save password" when no secret store answered: the password then lasts only as long
// as this run of the program.
Label {
    text: qsTr("No secret store answered: the password is kept for this session only.") + translation.emptyString
    wrapMode: Text.WordWrap
    font.italic: true
}
