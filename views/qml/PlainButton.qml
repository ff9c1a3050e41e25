import QtQuick
import QtQuick.Controls.Basic
import Orvela

// A borderless button: a symbol in a square frame, or a short text.
AbstractButton {
    id: control

    property string symbol: ""
    property real symbolPointSize: 13
    property color color: Theme.secondaryText
    property real fontSize: 12
    property int fontWeight: Font.Normal
    property string tooltip: ""
    // Side of the square frame of a symbol button.
    property real frameSize: 22
    // Shows a small spinner in place of the symbol.
    property bool busy: false

    readonly property bool showsSymbol: symbol !== "" || busy
    readonly property color shownColor: enabled || busy ? color : Theme.disabledText

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    padding: 0
    topPadding: showsSymbol ? 0 : 2
    bottomPadding: showsSymbol ? 0 : 2
    implicitWidth: showsSymbol ? frameSize : implicitContentWidth + leftPadding + rightPadding
    implicitHeight: showsSymbol ? frameSize : implicitContentHeight + topPadding + bottomPadding
    baselineOffset: showsSymbol ? height / 2 : topPadding + label.baselineOffset
    // A busy button shows its spinner at full strength; otherwise disabled means grey.
    opacity: down ? 0.55 : 1

    Accessible.role: Accessible.Button
    Accessible.name: text !== "" ? text : tooltip
    ToolTip.text: tooltip
    ToolTip.visible: tooltip !== "" && hovered
    ToolTip.delay: 700

    contentItem: Item {
        implicitWidth: control.showsSymbol ? control.frameSize : label.implicitWidth
        implicitHeight: control.showsSymbol ? control.frameSize : label.implicitHeight

        Symbol {
            anchors.centerIn: parent
            visible: control.symbol !== "" && !control.busy
            name: control.symbol
            pointSize: control.symbolPointSize
            color: control.shownColor
        }

        Spinner {
            anchors.centerIn: parent
            visible: control.busy
            running: control.busy
            color: control.shownColor
        }

        Label {
            id: label
            visible: !control.showsSymbol
            text: control.text
            font.pixelSize: control.fontSize
            font.weight: control.fontWeight
            color: control.shownColor
            elide: Text.ElideRight
            width: parent.width
        }
    }

    background: Rectangle {
        // A text button's focus ring stands a little outside its text.
        x: control.showsSymbol ? 0 : -3
        width: control.width - 2 * x
        height: control.height
        radius: 4
        color: control.showsSymbol && control.hovered && control.enabled ? Theme.hover : "transparent"
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.focusRing
    }
}
