import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// Visitors per hour as bars; pointing at a bar reads out its hour.
Column {
    id: chart

    // [{start, visitors}], drawn in this order.
    property var hours: []
    // The bar under the pointer, -1 for none.
    property int hoveredIndex: -1

    readonly property real scaleMaximum: TextRules.chartScaleMaximum(hours)
    readonly property bool showsReadout: hoveredIndex >= 0 && hoveredIndex < hours.length

    spacing: 8
    Accessible.role: Accessible.Chart
    Accessible.name: "Last 24 hours"

    RowLayout {
        width: parent.width
        spacing: 8

        Label {
            text: "Last 24 hours"
            font.pixelSize: 12
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignBaseline
        }

        Item {
            Layout.fillWidth: true
            Layout.minimumWidth: 8
        }

        Caption {
            objectName: "chartReadout"
            visible: chart.showsReadout
            text: chart.showsReadout
                  ? TextRules.hourReadout(chart.hours[chart.hoveredIndex].start,
                                          chart.hours[chart.hoveredIndex].visitors)
                  : ""
            Layout.alignment: Qt.AlignBaseline
        }
    }

    Row {
        id: bars

        width: parent.width
        height: 80
        spacing: 2

        Repeater {
            model: chart.hours

            Item {
                id: cell

                required property var modelData
                required property int index
                readonly property string readout: TextRules.hourReadout(modelData.start, modelData.visitors)

                objectName: "bar:" + index
                width: Math.max(0, (bars.width - bars.spacing * (chart.hours.length - 1)) / chart.hours.length)
                height: bars.height
                Accessible.role: Accessible.Graphic
                Accessible.name: readout
                ToolTip.text: readout
                ToolTip.visible: pointer.containsMouse
                ToolTip.delay: 500

                Rectangle {
                    objectName: "barFill"
                    anchors.bottom: parent.bottom
                    width: parent.width
                    height: TextRules.chartBarHeight(cell.modelData.visitors, chart.scaleMaximum)
                    radius: 1
                    color: Qt.rgba(Theme.foreground.r, Theme.foreground.g, Theme.foreground.b,
                                   cell.index === chart.hoveredIndex ? 0.9 : 0.28)
                }

                MouseArea {
                    id: pointer
                    anchors.fill: parent
                    hoverEnabled: true
                    acceptedButtons: Qt.NoButton
                    onEntered: chart.hoveredIndex = cell.index
                    // Moving straight onto a neighbour: its enter may come first and wins.
                    onExited: {
                        if (chart.hoveredIndex === cell.index)
                            chart.hoveredIndex = -1
                    }
                }
            }
        }
    }
}
