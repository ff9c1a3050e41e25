pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import Orvela

// One choice out of a few, side by side. Its label is not shown; assistive technology reads it.
// One stop in the Tab order; the arrow keys move the choice.
Control {
    id: control

    // [{value, title}]
    property var model: []
    property var currentValue
    property string label
    property bool small: false

    signal activated(var value)

    readonly property int currentIndex: {
        for (let i = 0; i < model.length; ++i) {
            if (model[i].value === currentValue)
                return i
        }
        return -1
    }

    function step(delta) {
        const next = currentIndex + delta
        if (next >= 0 && next < model.length)
            activated(model[next].value)
    }

    focusPolicy: Qt.StrongFocus
    padding: 2
    implicitWidth: segments.implicitWidth + leftPadding + rightPadding
    implicitHeight: (small ? 18 : 22) + topPadding + bottomPadding
    font.pixelSize: small ? 11 : 12

    Accessible.role: Accessible.PageTabList
    Accessible.name: label
    Keys.onLeftPressed: step(-1)
    Keys.onRightPressed: step(1)

    background: Rectangle {
        radius: 6
        color: Theme.segmentTrack
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.focusRing
    }

    contentItem: Row {
        id: segments

        Repeater {
            model: control.model

            AbstractButton {
                id: segment

                required property var modelData
                required property int index

                objectName: "segment:" + modelData.value
                width: segments.width / Math.max(1, control.model.length)
                height: segments.height
                implicitWidth: title.implicitWidth + 16
                text: modelData.title
                checked: index === control.currentIndex
                focusPolicy: Qt.NoFocus
                Accessible.role: Accessible.PageTab
                Accessible.name: text
                Accessible.checkable: true
                Accessible.checked: checked
                onClicked: control.activated(modelData.value)

                background: Item {
                    Rectangle {
                        anchors.fill: parent
                        radius: 5
                        visible: segment.checked
                        color: Theme.segmentSelected
                        border.width: Theme.dark ? 0 : 0.5
                        border.color: Theme.controlBorder
                    }
                    // A hairline between two segments that are not chosen.
                    Rectangle {
                        anchors.verticalCenter: parent.verticalCenter
                        x: -0.5
                        width: 1
                        height: parent.height * 0.55
                        color: Theme.controlBorder
                        visible: segment.index > 0 && !segment.checked
                                 && segment.index - 1 !== control.currentIndex
                    }
                }

                contentItem: Label {
                    id: title
                    text: segment.text
                    font: control.font
                    color: Theme.text
                    opacity: segment.down ? 0.6 : 1
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
            }
        }
    }
}
