import QtQuick
import QtQuick.Controls.Basic
import Orvela

// A secondary action: a light raised button with a thin border, in the small control size.
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

    Accessible.role: Accessible.Button
    Accessible.name: text

    contentItem: Label {
        text: control.text
        font: control.font
        color: Theme.text
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 5
        color: control.down ? Theme.controlPressed : Theme.controlBackground
        border.width: control.visualFocus ? 2 : 1
        border.color: control.visualFocus ? Theme.focusRing : Theme.controlBorder
    }
}
