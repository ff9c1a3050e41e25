import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// The line a website pastes into its pages so that its visitors are counted, with a copy action.
Column {
    id: snippetView

    property string siteID
    // Stays once copied; a new view starts over.
    property bool copied: false

    readonly property string snippet: TextRules.trackingSnippet(siteID)

    spacing: 6

    RowLayout {
        width: parent.width
        spacing: 8

        Caption {
            text: "Paste into <head>"
            textFormat: Text.PlainText
        }

        Item {
            Layout.fillWidth: true
            Layout.minimumWidth: 8
        }

        PlainButton {
            objectName: "copySnippetButton"
            text: snippetView.copied ? "Copied" : "Copy"
            fontSize: 11
            fontWeight: Font.Medium
            color: Theme.text
            onClicked: {
                Desktop.copyText(snippetView.snippet)
                snippetView.copied = true
            }
        }
    }

    TextEdit {
        id: snippetText

        objectName: "snippetText"
        width: parent.width
        // At most four lines, each shown whole.
        height: Math.min(contentHeight, Math.ceil(metrics.lineSpacing * 4))
        clip: true
        text: snippetView.snippet
        textFormat: TextEdit.PlainText
        readOnly: true
        selectByMouse: true
        activeFocusOnPress: true
        wrapMode: TextEdit.WrapAnywhere
        font.family: Theme.monospaceFamily
        font.pixelSize: 10
        color: Theme.secondaryText
        selectionColor: Theme.accent
        selectedTextColor: Theme.onAccent
        Accessible.role: Accessible.StaticText
        Accessible.name: text

        FontMetrics {
            id: metrics
            font: snippetText.font
        }
    }
}
