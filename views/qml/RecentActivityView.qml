import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// Where today's visitors come from, and what the last few of them did.
Column {
    id: recent

    // The selected website's snapshot, or null.
    property var snapshot: null

    readonly property var countries: TextRules.shownCountries(snapshot ? snapshot.countries : [])
    readonly property var visitors: TextRules.shownVisitors(snapshot ? snapshot.recentVisitors : [])

    spacing: 16

    Column {
        objectName: "countriesBlock"
        visible: recent.countries.length > 0
        width: parent.width
        spacing: 6

        Caption {
            text: "Countries"
        }

        Repeater {
            model: recent.countries

            RowLayout {
                required property var modelData

                objectName: "countryRow"
                width: parent.width
                spacing: 8

                Label {
                    objectName: "countryLabel"
                    text: modelData.label
                    font.pixelSize: 12
                    color: Theme.text
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }

                Label {
                    objectName: "countryVisitors"
                    text: modelData.visitors
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    color: Theme.secondaryText
                    Layout.leftMargin: 8
                }
            }
        }
    }

    Column {
        objectName: "visitorsBlock"
        visible: recent.visitors.length > 0
        width: parent.width
        spacing: 10

        Caption {
            text: "Visitors"
        }

        Repeater {
            model: recent.visitors

            Column {
                required property var modelData

                objectName: "visitorEntry"
                width: parent.width
                spacing: 2
                Accessible.role: Accessible.StaticText
                Accessible.name: [modelData.name, modelData.duration, modelData.summary, modelData.clicked]
                                 .filter(part => part !== "").join(", ")

                RowLayout {
                    width: parent.width
                    spacing: 6

                    Label {
                        objectName: "visitorCountry"
                        text: modelData.name
                        font.pixelSize: 12
                        font.weight: Font.Medium
                        color: Theme.text
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Accessible.ignored: true
                    }

                    Caption {
                        objectName: "visitorDuration"
                        text: modelData.duration
                        Layout.leftMargin: 2
                        Accessible.ignored: true
                    }
                }

                Caption {
                    objectName: "visitorSummary"
                    width: parent.width
                    text: modelData.summary
                    elide: Text.ElideRight
                    Accessible.ignored: true
                }

                Caption {
                    objectName: "visitorClicks"
                    visible: text !== ""
                    width: parent.width
                    text: modelData.clicked
                    elide: Text.ElideRight
                    Accessible.ignored: true
                }
            }
        }
    }

    Label {
        objectName: "noRecentActivity"
        visible: recent.countries.length === 0 && recent.visitors.length === 0
        text: "No recent activity yet."
        font.pixelSize: 12
        color: Theme.secondaryText
    }
}
