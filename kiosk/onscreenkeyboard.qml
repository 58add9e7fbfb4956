import QtQuick
import QtQuick.VirtualKeyboard
import QtQuick.VirtualKeyboard.Settings

// The panel across the bottom of the widget; its height follows from the width.
Item {
    property string layout
    readonly property real panelHeight: panel.height

    onLayoutChanged: if (layout !== "") VirtualKeyboardSettings.locale = layout

    InputPanel {
        id: panel
        width: parent.width
        anchors.bottom: parent.bottom
    }
}
