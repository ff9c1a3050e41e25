import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// The main page: the selected website's figures, what went wrong, and how fresh they are.
PanelPage {
    id: dashboard

    signal settings()

    // "overview" or "recent"; each new dashboard starts on the overview.
    property string section: "overview"

    readonly property var website: Store.selectedWebsite
    readonly property var snapshot: Store.selectedSnapshot
    readonly property bool hasWebsite: website !== undefined && website !== null
    readonly property bool hasSnapshot: snapshot !== undefined && snapshot !== null

    objectName: "dashboardView"
    leftPadding: 16
    rightPadding: 16
    topPadding: 14
    bottomPadding: 12

    contentItem: Column {
        spacing: 0

        RowLayout {
            objectName: "header"
            width: parent.width
            spacing: 8

            FaviconView {
                visible: dashboard.hasWebsite
                domain: dashboard.hasWebsite ? dashboard.website.domain : ""
            }

            WebsiteMenu {
                objectName: "websiteMenu"
                visible: dashboard.hasWebsite
                Layout.minimumWidth: 40
                Layout.maximumWidth: implicitWidth
                Layout.fillWidth: true
            }

            Label {
                objectName: "demoBadge"
                visible: dashboard.hasWebsite && dashboard.website.isExample
                text: "Demo"
                font.pixelSize: 10
                font.weight: Font.Medium
                color: Theme.secondaryText
            }

            Item {
                Layout.fillWidth: true
                Layout.minimumWidth: 8
                Layout.preferredWidth: 8
            }

            PlainButton {
                objectName: "settingsButton"
                symbol: "gearshape"
                symbolPointSize: 13
                tooltip: "Settings"
                onClicked: dashboard.settings()
            }
        }

        Item {
            width: 1
            height: 14
        }

        SegmentedControl {
            objectName: "sectionSwitch"
            width: parent.width
            label: "Section"
            model: [{ value: "overview", title: "Overview" }, { value: "recent", title: "Recent activity" }]
            currentValue: dashboard.section
            onActivated: value => dashboard.section = value
        }

        Item {
            width: 1
            height: 16
        }

        // Each section is built afresh when chosen, so the chart's pointer and the snippet's
        // "Copied" start over.
        Loader {
            objectName: "sectionContent"
            width: parent.width
            sourceComponent: dashboard.section === "recent" ? recentSection : overviewSection
        }

        Column {
            objectName: "failureBanner"
            visible: Store.selectedErrorMessage !== ""
            width: parent.width
            topPadding: 12

            RowLayout {
                width: parent.width
                spacing: 8

                Caption {
                    objectName: "failureMessage"
                    text: Store.selectedErrorMessage
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignBaseline
                }

                PlainButton {
                    objectName: "retryButton"
                    text: "Retry"
                    fontSize: 11
                    fontWeight: Font.Medium
                    color: Theme.text
                    Layout.alignment: Qt.AlignBaseline
                    onClicked: Store.refreshNow()
                }
            }
        }

        Loader {
            objectName: "snippetSlot"
            width: parent.width
            // An unloaded slot keeps the height of what it held: leave it out of the column.
            visible: active
            active: dashboard.section === "overview" && dashboard.hasWebsite
                    && Store.trackingInstalledIDs.indexOf(dashboard.website.id) < 0
            sourceComponent: Column {
                topPadding: 14

                TrackingSnippetView {
                    objectName: "trackingSnippet"
                    width: parent.width
                    siteID: Store.selectedWebsiteID
                }
            }
        }

        Column {
            width: parent.width
            topPadding: 14
            bottomPadding: 10

            Divider {
                width: parent.width
            }
        }

        RowLayout {
            objectName: "footer"
            width: parent.width
            spacing: 8

            // The status takes the room the buttons leave, so it elides and they keep their
            // width; the row's spacing keeps the two apart.
            Caption {
                objectName: "statusText"
                text: TextRules.footerStatus(dashboard.hasSnapshot ? dashboard.snapshot.refreshedAt : null,
                                             Store.hasSelectedError)
                elide: Text.ElideRight
                Layout.fillWidth: true
                Layout.minimumWidth: 0
            }

            PlainButton {
                objectName: "refreshButton"
                symbol: "arrow.clockwise"
                symbolPointSize: 11
                busy: Store.isRefreshing
                enabled: !Store.isRefreshing
                tooltip: "Refresh"
                onClicked: Store.refreshNow()
            }

            PlainButton {
                objectName: "openDashboardButton"
                visible: dashboard.hasWebsite && dashboard.website.dashboardURL !== ""
                text: "Open dashboard"
                fontSize: 11
                onClicked: Desktop.openAddress(dashboard.website.dashboardURL)
            }
        }
    }

    Component {
        id: recentSection

        RecentActivityView {
            objectName: "recentActivity"
        }
    }

    Component {
        id: overviewSection

        Column {
            id: overview

            // The section's own view of the figures: a section reads the store, not the page.
            readonly property var snapshot: Store.selectedSnapshot
            readonly property bool hasSnapshot: snapshot !== undefined && snapshot !== null

            objectName: "overview"
            spacing: 0

            Column {
                objectName: "liveFigure"
                bottomPadding: 20
                width: parent.width
                spacing: 2
                Accessible.role: Accessible.StaticText
                Accessible.name: "Live visitors"
                Accessible.description: liveValue.text

                Label {
                    text: "Live visitors"
                    font.pixelSize: 12
                    color: Theme.secondaryText
                    Accessible.ignored: true
                }

                Label {
                    id: liveValue
                    objectName: "liveValue"
                    width: parent.width
                    text: TextRules.count(overview.hasSnapshot ? overview.snapshot.liveVisitors : null)
                    font.pixelSize: 44
                    font.weight: Font.Medium
                    fontSizeMode: Text.HorizontalFit
                    minimumPixelSize: 22
                    color: overview.hasSnapshot ? Theme.text : Theme.secondaryText
                    Accessible.ignored: true
                }
            }

            // Two equal columns, whatever either one shows.
            Row {
                id: dailyFigures

                objectName: "dailyFigures"
                readonly property int cellWidth: Math.floor((width - dailyRule.width - 16) / 2)

                width: parent.width

                DailyCell {
                    objectName: "visitorsToday"
                    width: dailyFigures.cellWidth
                    title: "Visitors today"
                    value: overview.hasSnapshot ? overview.snapshot.visitorsToday : null
                }

                Rectangle {
                    id: dailyRule
                    width: 1
                    height: 28
                    color: Qt.rgba(Theme.foreground.r, Theme.foreground.g, Theme.foreground.b, 0.12)
                }

                Item {
                    width: 16
                    height: 1
                }

                DailyCell {
                    objectName: "pageViewsToday"
                    width: dailyFigures.cellWidth
                    title: "Page views"
                    value: overview.hasSnapshot ? overview.snapshot.pageViewsToday : null
                }
            }

            Column {
                objectName: "chartBlock"
                readonly property var hours: overview.hasSnapshot ? overview.snapshot.hourlyVisitors : null
                visible: hours !== null && hours !== undefined && hours.length > 0
                width: parent.width
                topPadding: 14

                Divider {
                    objectName: "chartDivider"
                    width: parent.width
                }

                Item {
                    width: 1
                    height: 14
                }

                ActivityChartView {
                    objectName: "activityChart"
                    width: parent.width
                    hours: parent.visible ? parent.hours : []
                }
            }
        }
    }

    // One of the day's figures; read as a single element.
    component DailyCell: Column {
        id: cell

        property string title
        property var value: null

        spacing: 2
        Accessible.role: Accessible.StaticText
        Accessible.name: title
        Accessible.description: valueLabel.text

        Caption {
            text: cell.title
            Accessible.ignored: true
        }

        Label {
            id: valueLabel
            objectName: "value"
            width: cell.width
            text: TextRules.count(cell.value)
            font.pixelSize: 18
            font.weight: Font.Medium
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 11
            color: cell.value === null || cell.value === undefined ? Theme.secondaryText : Theme.text
            Accessible.ignored: true
        }
    }
}
