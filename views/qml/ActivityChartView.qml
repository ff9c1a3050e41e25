pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// Visitors per hour as bars; pointing at a bar reads out its hour in the heading.
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

    // Bars on whole pixels: they share one baseline and the last ends with the row.
    Item {
        id: bars

        readonly property int spacing: 2
        readonly property real pitch: (width + spacing) / Math.max(1, chart.hours.length)

        width: parent.width
        height: 80

        Repeater {
            model: chart.hours

            Item {
                id: cell

                required property var modelData
                required property int index

                objectName: "bar:" + index
                x: Math.round(index * bars.pitch)
                width: Math.max(0, Math.round((index + 1) * bars.pitch) - bars.spacing - x)
                height: bars.height
                Accessible.role: Accessible.Graphic
                Accessible.name: TextRules.hourReadout(modelData.start, modelData.visitors)

                Rectangle {
                    objectName: "barFill"
                    anchors.bottom: parent.bottom
                    width: parent.width
                    height: Math.max(1, Math.round(TextRules.chartBarHeight(cell.modelData.visitors, chart.scaleMaximum)))
                    radius: 1
                    color: Qt.rgba(Theme.foreground.r, Theme.foreground.g, Theme.foreground.b,
                                   cell.index === chart.hoveredIndex ? 0.9 : 0.28)
                }

                MouseArea {
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
