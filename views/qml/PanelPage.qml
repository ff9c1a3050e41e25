import QtQuick
import QtQuick.Controls.Basic
import Orvela

// The frame of every page: the panel's width, a height that follows the content, the window
// background and the scheme's colours for every control on it.
Control {
    id: page

    implicitWidth: 320
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    font.pixelSize: 13

    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.fieldBackground
    palette.alternateBase: Theme.hover
    palette.text: Theme.text
    palette.button: Theme.controlBackground
    palette.buttonText: Theme.text
    palette.brightText: Theme.onAccent
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.onAccent
    palette.placeholderText: Theme.placeholderText
    palette.toolTipBase: Theme.menuBackground
    palette.toolTipText: Theme.text
    palette.light: Theme.menuBackground
    palette.midlight: Theme.hover
    palette.mid: Theme.controlBorder
    palette.dark: Theme.secondaryText
    palette.shadow: Theme.separator

    background: Rectangle {
        color: Theme.window
    }
}
