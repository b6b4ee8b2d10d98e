import QtQuick 2.7

// Deliberately broken: the engine cannot create a root object from this file.
Item {
    width: 100
    height:
}
