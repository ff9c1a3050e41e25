pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// Adds a website, or edits the one with websiteID. Closes once the store has kept the site and
// finished its first refresh; stays with everything typed when the store could not keep it.
PanelPage {
    id: editor

    // "" adds a new website.
    property string websiteID: ""

    signal close()

    property string displayName: ""
    property string domain: ""
    property string dashboard: ""
    // Typed credential values by field key.
    property var secretValues: ({})
    property string validation: ""
    property bool isTesting: false
    // The save this page waits for; 0 for none.
    property int pendingSave: 0

    readonly property bool editing: websiteID !== ""
    readonly property bool trackingInstalled: {
        for (const installed of Store.trackingInstalledIDs) {
            if (editing && installed === websiteID.toUpperCase())
                return true
        }
        return false
    }

    function load() {
        if (!editing)
            return
        const site = Store.website(websiteID)
        if (!site)
            return
        displayName = site.displayName
        domain = site.domain
        dashboard = site.dashboardURLString
        const stored = Store.loadCredentials(websiteID)
        if (stored.readable)
            secretValues = stored.values
        else
            validation = TextRules.credentialsUnreadableMessage
    }

    function save() {
        if (isTesting)
            return
        validation = ""
        const outcome = TextRules.websiteFromInput(websiteID, displayName, domain, dashboard,
                                                   Store.credentialFields, secretValues)
        if (outcome.message !== "") {
            validation = outcome.message
            return
        }
        isTesting = true
        pendingSave = Store.saveWebsite(outcome.website, secretValues)
    }

    function setSecret(key, value) {
        const values = Object.assign({}, secretValues)
        values[key] = value
        secretValues = values
    }

    objectName: "websiteEditorView"
    padding: 16

    // Typing can start at once, and Return, the confirm button's key, works from the start.
    Component.onCompleted: {
        load()
        nameField.forceActiveFocus()
    }
    // Return is the confirm button's key wherever the focus is on the page.
    Keys.onReturnPressed: save()
    Keys.onEnterPressed: save()

    Connections {
        target: Store

        function onSaveFinished(ticket, succeeded) {
            if (ticket !== editor.pendingSave)
                return
            editor.pendingSave = 0
            editor.isTesting = false
            if (succeeded)
                editor.close()
            else
                editor.validation = TextRules.saveFailedMessage
        }
    }

    contentItem: Column {
        spacing: 12

        RowLayout {
            width: parent.width
            spacing: 6

            PlainButton {
                objectName: "backButton"
                symbol: "chevron.left"
                symbolPointSize: 12
                tooltip: "Back"
                onClicked: editor.close()
            }

            Label {
                objectName: "editorTitle"
                text: TextRules.editorTitle(editor.editing)
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.text
                Layout.fillWidth: true
            }
        }

        Caption {
            text: "Name"
        }

        FieldInput {
            id: nameField

            objectName: "nameField"
            width: parent.width
            placeholderText: "Optional"
            text: editor.displayName
            onTextEdited: editor.displayName = text
            Accessible.name: "Name"
        }

        Caption {
            text: "Domain"
        }

        FieldInput {
            objectName: "domainField"
            width: parent.width
            placeholderText: TextRules.placeholderDomain
            text: editor.domain
            onTextEdited: editor.domain = text
            inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase | Qt.ImhUrlCharactersOnly
            Accessible.name: "Domain"
        }

        Caption {
            text: "Dashboard"
        }

        FieldInput {
            objectName: "dashboardField"
            width: parent.width
            placeholderText: TextRules.placeholderDashboard
            text: editor.dashboard
            onTextEdited: editor.dashboard = text
            inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase | Qt.ImhUrlCharactersOnly
            Accessible.name: "Dashboard"
        }

        Repeater {
            model: Store.credentialFields

            Column {
                id: credential

                // {key, label, prompt, isSecret}
                required property var modelData

                width: parent.width
                spacing: 12

                Caption {
                    text: credential.modelData.label
                }

                FieldInput {
                    objectName: "credentialField:" + credential.modelData.key
                    width: parent.width
                    placeholderText: credential.modelData.prompt
                    echoMode: credential.modelData.isSecret ? TextInput.Password : TextInput.Normal
                    text: editor.secretValues[credential.modelData.key] || ""
                    onTextEdited: editor.setSecret(credential.modelData.key, text)
                    Accessible.name: credential.modelData.label
                    Accessible.passwordEdit: credential.modelData.isSecret
                }
            }
        }

        Column {
            objectName: "snippetReminder"
            visible: !editor.trackingInstalled
            width: parent.width
            spacing: 12

            Caption {
                objectName: "snippetReminderText"
                width: parent.width
                text: TextRules.snippetReminder
                wrapMode: Text.Wrap
            }

            TrackingSnippetView {
                objectName: "trackingSnippet"
                width: parent.width
                visible: editor.editing
                siteID: editor.websiteID
            }
        }

        Caption {
            objectName: "validationMessage"
            visible: text !== ""
            width: parent.width
            text: editor.validation
            wrapMode: Text.Wrap
        }

        ProminentButton {
            objectName: "confirmButton"
            text: TextRules.confirmTitle(editor.isTesting, editor.editing, Store.usesConnectWording)
            enabled: !editor.isTesting
            onClicked: editor.save()
        }
    }
}
