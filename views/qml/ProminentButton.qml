import QtQuick
import QtQuick.Controls.Basic
import Orvela

// The page's main action: filled with the accent colour, in the small control size.
AbstractButton {
    id: control

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    leftPadding: 10
    rightPadding: 10
    topPadding: 3
    bottomPadding: 3
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(20, implicitContentHeight + topPadding + bottomPadding)
    font.pixelSize: 11
    font.weight: Font.Medium

    Accessible.role: Accessible.Button
    Accessible.name: text

    contentItem: Label {
        text: control.text
        font: control.font
        color: Theme.onAccent
        opacity: control.enabled ? 1 : 0.7
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 5
        color: control.down ? Theme.accentPressed : Theme.accent
        opacity: control.enabled ? 1 : 0.55
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.focusRing
    }
}
