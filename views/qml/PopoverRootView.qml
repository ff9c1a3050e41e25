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
    readonly property Item currentPage: pageLoader.item as Item
    // The page's file in this module.
    readonly property string pageFile: {
        if (page === "settings")
            return "SettingsView.qml"
        if (page === "editor")
            return "WebsiteEditorView.qml"
        return Store.websites.count === 0 ? "EmptyStateView.qml" : "DashboardView.qml"
    }

    function showEditor(websiteID) {
        editorWebsiteID = websiteID
        page = "editor"
    }

    // Each page is built afresh when it is shown, the editor with its website. By file: a page
    // needs nothing of this scope but its signals, heard below.
    function showPage() {
        const properties = pageFile === "WebsiteEditorView.qml" ? { width: 320, websiteID: editorWebsiteID }
                                                                : { width: 320 }
        pageLoader.setSource(pageFile, properties)
    }

    onPageFileChanged: showPage()
    Component.onCompleted: showPage()

    width: 320
    implicitWidth: 320
    implicitHeight: currentPage ? currentPage.implicitHeight : 120
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
    }

    // What the pages ask for.
    Connections {
        target: root.currentPage as EmptyStateView

        function onConnect() { root.showEditor("") }
        function onSettings() { root.page = "settings" }
    }

    Connections {
        target: root.currentPage as DashboardView

        function onSettings() { root.page = "settings" }
    }

    Connections {
        target: root.currentPage as SettingsView

        function onClose() { root.page = "main" }
        function onAdd() { root.showEditor("") }
        function onEdit(websiteID) { root.showEditor(websiteID) }
    }

    Connections {
        target: root.currentPage as WebsiteEditorView

        function onClose() { root.page = "main" }
    }
}
