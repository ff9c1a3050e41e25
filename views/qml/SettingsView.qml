pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// The websites and the choices of the panel; every change takes effect at once.
PanelPage {
    id: settingsPage

    signal close()
    signal add()
    signal edit(string websiteID)

    // Why the address or the token typed was refused; "" when it was not.
    property string serviceMessage: ""
    property string tokenMessage: ""

    function connectAccount() {
        const outcome = Store.connectAccount(serviceField.text, tokenField.text)
        serviceMessage = outcome.serviceMessage
        tokenMessage = outcome.tokenMessage
        // The token is never shown back, not even as dots.
        if (outcome.connected)
            tokenField.clear()
    }

    function disconnectAccount() {
        serviceMessage = ""
        tokenMessage = Store.disconnectAccount()
        tokenField.clear()
    }

    objectName: "settingsView"
    padding: 16

    contentItem: Column {
        spacing: 16

        RowLayout {
            width: parent.width
            spacing: 6

            PlainButton {
                objectName: "backButton"
                symbol: "chevron.left"
                symbolPointSize: 12
                tooltip: "Back"
                onClicked: settingsPage.close()
            }

            Label {
                text: "Settings"
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.text
                Layout.fillWidth: true
            }
        }

        Column {
            objectName: "websitesBlock"
            width: parent.width
            spacing: 8

            Caption {
                text: "Websites"
            }

            Label {
                objectName: "noWebsite"
                visible: Store.websites.count === 0
                text: "No website yet."
                font.pixelSize: 12
                color: Theme.secondaryText
            }

            Column {
                visible: Store.websites.count > 0
                width: parent.width
                spacing: 8

                Repeater {
                    model: Store.websites

                    WebsiteRow {
                        width: parent.width
                    }
                }
            }

            BorderedButton {
                objectName: "addWebsiteButton"
                text: "Add website"
                onClicked: settingsPage.add()
            }
        }

        Column {
            width: parent.width
            spacing: 6

            Caption {
                text: "Refresh"
            }

            SegmentedControl {
                objectName: "refreshSwitch"
                width: parent.width
                label: "Refresh"
                model: Store.refreshIntervals
                currentValue: Store.refreshInterval
                onActivated: value => Store.setRefreshInterval(value)
            }

            Caption {
                objectName: "refreshCaption"
                width: parent.width
                visible: text !== ""
                text: TextRules.refreshCaption(Store.refreshInterval, Store.minimumRefreshInterval)
                wrapMode: Text.Wrap
            }
        }

        Column {
            width: parent.width
            spacing: 6

            Caption {
                text: "Menu bar"
            }

            Caption {
                text: "Shown next to the icon."
            }

            SegmentedControl {
                objectName: "menuBarSwitch"
                width: parent.width
                small: true
                label: "Menu bar"
                model: Store.menuBarMetrics
                currentValue: Store.menuBarMetric
                onActivated: value => Store.setMenuBarMetric(value)
            }
        }

        Column {
            width: parent.width
            spacing: 6

            Caption {
                text: "Appearance"
            }

            SegmentedControl {
                objectName: "appearanceSwitch"
                width: parent.width
                label: "Appearance"
                model: Store.panelAppearances
                currentValue: Store.panelAppearance
                onActivated: value => Store.setPanelAppearance(value)
            }
        }

        Column {
            objectName: "accountBlock"
            width: parent.width
            spacing: 6

            Caption {
                text: "Account"
            }

            Caption {
                text: "Service"
            }

            FieldInput {
                id: serviceField
                objectName: "serviceField"
                width: parent.width
                placeholderText: "https://stats.example.org"
                text: Store.baseURL
                inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase | Qt.ImhUrlCharactersOnly
                Accessible.name: "Service"
                onTextEdited: settingsPage.serviceMessage = ""
                onAccepted: settingsPage.connectAccount()
            }

            Caption {
                objectName: "serviceMessage"
                visible: text !== ""
                width: parent.width
                text: settingsPage.serviceMessage
                wrapMode: Text.Wrap
            }

            Caption {
                text: "Sync token"
            }

            FieldInput {
                id: tokenField
                objectName: "tokenField"
                width: parent.width
                enabled: Store.tokenUnavailableReason === ""
                echoMode: TextInput.Password
                placeholderText: Store.hasSyncToken ? "Saved; paste another to replace it" : "Paste the account's token"
                Accessible.name: "Sync token"
                Accessible.passwordEdit: true
                onTextEdited: settingsPage.tokenMessage = ""
                onAccepted: settingsPage.connectAccount()
            }

            Caption {
                objectName: "tokenMessage"
                visible: text !== ""
                width: parent.width
                text: Store.tokenUnavailableReason !== "" ? Store.tokenUnavailableReason : settingsPage.tokenMessage
                wrapMode: Text.Wrap
            }

            RowLayout {
                width: parent.width
                spacing: 12

                BorderedButton {
                    objectName: "connectButton"
                    text: "Connect"
                    enabled: tokenField.enabled
                    onClicked: settingsPage.connectAccount()
                }

                PlainButton {
                    objectName: "disconnectButton"
                    visible: Store.hasSyncToken
                    text: "Disconnect"
                    fontSize: 12
                    onClicked: settingsPage.disconnectAccount()
                }

                Item {
                    Layout.fillWidth: true
                }
            }

            RowLayout {
                objectName: "syncRow"
                visible: accountStatus.text !== "" || Store.isCloudSyncing
                width: parent.width
                spacing: 6

                Spinner {
                    objectName: "syncSpinner"
                    visible: Store.isCloudSyncing
                    running: Store.isCloudSyncing
                    Accessible.name: "Syncing"
                }

                Caption {
                    id: accountStatus
                    objectName: "accountStatus"
                    text: Store.cloudSyncStatus
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }

            Caption {
                objectName: "lastSync"
                visible: text !== ""
                text: Store.lastCloudSyncText
            }
        }

        Divider {
            width: parent.width
        }

        PlainButton {
            objectName: "quitButton"
            text: "Quit Orvela"
            fontSize: 12
            onClicked: Desktop.quit()
        }
    }

    // One website: choosing it shows it on the dashboard; editing and removing it.
    component WebsiteRow: RowLayout {
        id: row

        required property string websiteID
        required property string displayName
        required property string domain
        readonly property bool selected: websiteID === Store.selectedWebsiteID
        readonly property bool showsSubtitle: TextRules.websiteRowShowsSubtitle(displayName, domain)

        objectName: "websiteRow:" + domain
        spacing: 8

        AbstractButton {
            id: selectButton

            objectName: "selectButton"
            focusPolicy: Qt.StrongFocus
            hoverEnabled: true
            padding: 0
            implicitWidth: implicitContentWidth
            implicitHeight: implicitContentHeight
            opacity: down ? 0.6 : 1
            text: title.text
            Layout.fillWidth: true
            Layout.maximumWidth: implicitWidth
            Accessible.role: Accessible.Button
            Accessible.name: row.showsSubtitle ? title.text + ", " + row.domain : title.text
            Accessible.checkable: true
            Accessible.checked: row.selected
            onClicked: {
                Store.selectWebsite(row.websiteID)
                settingsPage.close()
            }

            contentItem: RowLayout {
                spacing: 6

                Symbol {
                    objectName: "selectedMark"
                    visible: row.selected
                    name: "checkmark"
                    pointSize: 10
                    color: Theme.secondaryText
                }

                FaviconView {
                    domain: row.domain
                }

                ColumnLayout {
                    spacing: 1
                    Layout.fillWidth: true

                    Label {
                        id: title
                        objectName: "rowTitle"
                        text: TextRules.websiteRowTitle(row.displayName, row.domain)
                        font.pixelSize: 12
                        color: Theme.text
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }

                    Caption {
                        objectName: "rowSubtitle"
                        visible: row.showsSubtitle
                        text: row.domain
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                }
            }

            background: Rectangle {
                anchors.fill: parent
                anchors.margins: -2
                radius: 4
                color: "transparent"
                border.width: selectButton.visualFocus ? 2 : 0
                border.color: Theme.focusRing
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.minimumWidth: 8
            Layout.preferredWidth: 8
        }

        PlainButton {
            objectName: "editButton"
            text: "Edit"
            fontSize: 12
            onClicked: settingsPage.edit(row.websiteID)
        }

        PlainButton {
            objectName: "removeButton"
            text: "Remove"
            fontSize: 12
            onClicked: Store.removeWebsite(row.websiteID)
        }
    }
}
