pragma ComponentBehavior: Bound

import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// The selected website's domain; a click lists every website to switch to.
AbstractButton {
    id: control

    readonly property string domain: Store.selectedWebsite ? Store.selectedWebsite.domain : ""

    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    padding: 0
    implicitWidth: implicitContentWidth
    implicitHeight: implicitContentHeight
    text: domain
    opacity: down ? 0.6 : 1

    Accessible.role: Accessible.ButtonMenu
    Accessible.name: domain

    onClicked: menu.open()

    // A panel closed with the menu open reopens without it.
    Connections {
        target: control.Window.window

        function onVisibleChanged() {
            if (!control.Window.window.visible)
                menu.close()
        }
    }

    contentItem: RowLayout {
        spacing: 4

        Label {
            objectName: "websiteMenuLabel"
            text: control.domain
            font.pixelSize: 13
            font.weight: Font.Medium
            color: Theme.text
            elide: Text.ElideRight
            Layout.fillWidth: true
        }

        Symbol {
            name: "chevron.down"
            pointSize: 8
            color: Theme.secondaryText
        }
    }

    background: Rectangle {
        anchors.fill: parent
        anchors.margins: -2
        radius: 4
        color: "transparent"
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.focusRing
    }

    Menu {
        id: menu

        // The widest website item; the menu takes it, up to the panel's width.
        readonly property real widestItem: {
            let widest = 0
            for (let i = 0; i < count; ++i) {
                const entry = itemAt(i)
                if (entry)
                    widest = Math.max(widest, entry.implicitWidth)
            }
            return widest
        }
        readonly property real panelWidth: control.Window.window ? control.Window.window.width : 320

        objectName: "websiteMenuPopup"
        y: control.height + 4
        padding: 4
        // Kept inside the panel, which pushes a wide menu to the left and a long one upwards.
        margins: 8
        width: Math.min(Math.max(180, widestItem + leftPadding + rightPadding), panelWidth - 2 * margins)
        palette.window: Theme.menuBackground
        palette.windowText: Theme.text
        palette.light: Theme.menuBackground
        palette.midlight: Theme.hover
        palette.highlight: Theme.accent
        palette.highlightedText: Theme.onAccent

        // Opens on the selected website, in view however long the list.
        onOpened: {
            for (let i = 0; i < count; ++i) {
                if (itemAt(i).selected) {
                    currentIndex = i
                    list.positionViewAtIndex(i, ListView.Contain)
                }
            }
        }

        background: Rectangle {
            radius: 6
            color: Theme.menuBackground
            border.color: Theme.controlBorder
        }

        // Taller than the panel, the list scrolls, and its scroll bar stays in sight to say so.
        contentItem: ListView {
            id: list

            implicitHeight: contentHeight
            model: menu.contentModel
            interactive: contentHeight > height
            clip: true
            currentIndex: menu.currentIndex

            ScrollBar.vertical: ScrollBar {
                objectName: "websiteMenuScrollBar"
                policy: ScrollBar.AlwaysOn
                visible: size < 1

                contentItem: Rectangle {
                    implicitWidth: 4
                    radius: 2
                    color: Theme.secondaryText
                }
            }
        }

        Instantiator {
            model: Store.websites
            delegate: MenuItem {
                id: item

                required property string websiteID
                required property string domain
                readonly property bool selected: websiteID === Store.selectedWebsiteID

                objectName: "websiteMenuItem"
                text: domain
                implicitHeight: 22
                leftPadding: 8
                rightPadding: 12
                Accessible.name: text
                Accessible.checkable: true
                Accessible.checked: selected
                onTriggered: Store.selectWebsite(websiteID)

                contentItem: RowLayout {
                    spacing: 5

                    // The other items keep the mark's place, so the domains line up.
                    Symbol {
                        name: "checkmark"
                        pointSize: 10
                        color: item.highlighted ? Theme.onAccent : Theme.text
                        opacity: item.selected ? 1 : 0
                    }

                    Label {
                        objectName: "websiteMenuItemLabel"
                        text: item.text
                        font.pixelSize: 13
                        color: item.highlighted ? Theme.onAccent : Theme.text
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                }

                background: Rectangle {
                    radius: 4
                    color: item.highlighted ? Theme.accent : "transparent"
                }
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
