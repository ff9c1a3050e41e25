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

    // Disabled, it turns grey rather than faint, so that its label stays readable.
    contentItem: Label {
        text: control.text
        font: control.font
        color: control.enabled ? Theme.onAccent : Theme.disabledText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        radius: 5
        color: !control.enabled ? Theme.disabledFill : control.down ? Theme.accentPressed : Theme.accent

        // Around the fill, which a ring of the accent's own colour would not stand out from.
        Rectangle {
            anchors.fill: parent
            anchors.margins: -3
            radius: 7
            color: "transparent"
            visible: control.visualFocus
            border.width: 2
            border.color: Theme.focusRing
        }
    }
}
