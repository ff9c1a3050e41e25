pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// Where today's visitors come from, and what the last few of them did.
Column {
    id: recent

    readonly property CountryListModel countries: Store.selectedCountries
    readonly property VisitorListModel visitors: Store.selectedVisitors

    spacing: 16

    Column {
        objectName: "countriesBlock"
        visible: recent.countries.count > 0
        width: parent.width
        spacing: 6

        Caption {
            text: "Countries"
        }

        Repeater {
            model: recent.countries

            RowLayout {
                id: countryRow

                required property string label
                required property string visitors

                objectName: "countryRow"
                width: parent.width
                spacing: 8

                Label {
                    objectName: "countryLabel"
                    text: countryRow.label
                    font.pixelSize: 12
                    color: Theme.text
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }

                Label {
                    objectName: "countryVisitors"
                    text: countryRow.visitors
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
        visible: recent.visitors.count > 0
        width: parent.width
        spacing: 10

        Caption {
            text: "Visitors"
        }

        Repeater {
            model: recent.visitors

            Column {
                id: entry

                required property string name
                required property string duration
                required property string summary
                required property string clicked

                objectName: "visitorEntry"
                width: parent.width
                spacing: 2
                Accessible.role: Accessible.StaticText
                Accessible.name: {
                    let spoken = ""
                    for (const part of [entry.name, entry.duration, entry.summary, entry.clicked])
                        spoken += part === "" ? "" : (spoken === "" ? "" : ", ") + part
                    return spoken
                }

                RowLayout {
                    width: parent.width
                    spacing: 6

                    Label {
                        objectName: "visitorCountry"
                        text: entry.name
                        font.pixelSize: 12
                        font.weight: Font.Medium
                        color: Theme.text
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Accessible.ignored: true
                    }

                    Caption {
                        objectName: "visitorDuration"
                        text: entry.duration
                        Layout.leftMargin: 2
                        Accessible.ignored: true
                    }
                }

                Caption {
                    objectName: "visitorSummary"
                    width: parent.width
                    text: entry.summary
                    elide: Text.ElideRight
                    Accessible.ignored: true
                }

                Caption {
                    objectName: "visitorClicks"
                    visible: text !== ""
                    width: parent.width
                    text: entry.clicked
                    elide: Text.ElideRight
                    Accessible.ignored: true
                }
            }
        }
    }

    Label {
        objectName: "noRecentActivity"
        visible: recent.countries.count === 0 && recent.visitors.count === 0
        text: "No recent activity yet."
        font.pixelSize: 12
        color: Theme.secondaryText
    }
}
