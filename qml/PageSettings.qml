import QtQuick 2.4

PageSettingsForm {
    id: root

    focus: true

    comboBoxTheme.model: [qsTr("Dark") + translation.emptyString, qsTr("Light") + translation.emptyString]
    comboBoxLanguage.model: ["English", "Srpski"]
    labelTheme.text: qsTr("Theme") + translation.emptyString
    labelLanguage.text: qsTr("Language") + translation.emptyString

    // Away from the combo box, so that the back key reaches this page again.
    function leaveComboBox() {
        root.parent.forceActiveFocus()
    }

    Connections {
        target: comboBoxTheme
        function onActivated(index) {
            appWindow.gTheme = comboBoxTheme.currentIndex
            appWindow.setTheme()
            leaveComboBox()
        }
    }

    Connections {
        target: comboBoxLanguage
        function onActivated(index) {
            appWindow.gLang = comboBoxLanguage.currentIndex
            // The new language rebuilds the theme list, which puts it back on its first entry.
            var theme = comboBoxTheme.currentIndex
            translation.setLanguage(appWindow.gLang)
            comboBoxTheme.currentIndex = theme
            leaveComboBox()
        }
    }

    Component.onCompleted: {
        // Every theme but 0 is the light one.
        comboBoxTheme.currentIndex = appWindow.gTheme === 0 ? 0 : 1
        comboBoxLanguage.currentIndex = appWindow.gLang
        tbMenu.visible = false
    }

    Component.onDestruction: tbMenu.visible = true

    Keys.onBackPressed: stackView.pop()
}
