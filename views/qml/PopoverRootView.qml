import QtQuick
import QtQuick.Window
import Orvela

// The panel's one root: which page is shown, and what holds for all of them: 320 px wide,
// the height of the page's content, the window background, the light or dark scheme.
// The page survives closing the panel; only the pages' callbacks change it.
Rectangle {
    id: root

    // "main" (the dashboard, or the empty state without websites), "settings" or "editor".
    property string page: "main"
    // The editor's website; "" when it adds one.
    property string editorWebsiteID: ""
    readonly property Item currentPage: pageLoader.item

    function showEditor(websiteID) {
        editorWebsiteID = websiteID
        page = "editor"
    }

    width: 320
    implicitWidth: 320
    implicitHeight: pageLoader.item ? pageLoader.item.implicitHeight : 120
    color: Theme.window

    // Controls on every page take the scheme's colours.
    palette.window: Theme.window
    palette.windowText: Theme.text
    palette.base: Theme.fieldBackground
    palette.text: Theme.text
    palette.button: Theme.controlBackground
    palette.buttonText: Theme.text
    palette.highlight: Theme.accent
    palette.highlightedText: Theme.onAccent
    palette.placeholderText: Theme.placeholderText

    // What shows between a resize and the next frame.
    Binding {
        target: root.Window.window
        when: root.Window.window !== null
        property: "color"
        value: Theme.window
    }

    Loader {
        id: pageLoader
        width: 320
        sourceComponent: {
            if (root.page === "settings")
                return settingsPage
            if (root.page === "editor")
                return editorPage
            return Store.websites.count === 0 ? emptyPage : dashboardPage
        }
    }

    Component {
        id: emptyPage
        EmptyStateView {
            width: 320
            onConnect: root.showEditor("")
            onSettings: root.page = "settings"
        }
    }

    Component {
        id: dashboardPage
        DashboardView {
            width: 320
            onSettings: root.page = "settings"
        }
    }

    Component {
        id: settingsPage
        SettingsView {
            width: 320
            onClose: root.page = "main"
            onAdd: root.showEditor("")
            onEdit: websiteID => root.showEditor(websiteID)
        }
    }

    Component {
        id: editorPage
        WebsiteEditorView {
            width: 320
            websiteID: root.editorWebsiteID
            onClose: root.page = "main"
        }
    }
}
