import QtQuick 2.7
import QtQuick.Controls 2.0

ApplicationWindow {
    id: appWindow
    visible: true
    width: 400
    height: 600
    title: "VornaPanel"
}
