pragma ComponentBehavior: Bound

import QtQuick
import Orvela

// A small indeterminate progress indicator: twelve spokes that fade round the circle.
Item {
    id: spinner

    property color color: Theme.secondaryText
    property bool running: true
    property int phase: 0

    implicitWidth: 13
    implicitHeight: 13
    Accessible.role: Accessible.Animation
    Accessible.name: "Refreshing"

    Timer {
        interval: 80
        repeat: true
        running: spinner.running && spinner.visible
        onTriggered: spinner.phase = (spinner.phase + 1) % 12
    }

    Repeater {
        model: 12
        Rectangle {
            id: spoke

            required property int index

            x: spinner.width / 2 - width / 2
            y: 0
            width: 2
            height: spinner.height * 0.3
            radius: width / 2
            color: spinner.color
            opacity: 0.15 + 0.85 * (((spoke.index - spinner.phase + 12) % 12) / 11)
            transform: Rotation {
                origin.x: 1
                origin.y: spinner.height / 2
                angle: spoke.index * 30
            }
        }
    }
}
