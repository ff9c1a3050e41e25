import QtQuick
import QtQuick.Layouts
import Orvela

// The line a website pastes into its pages so that its visitors are counted, with a copy action.
Column {
    id: snippetView

    property string siteID
    // Says what the clipboard holds: it stays until the snippet changes or a new view starts.
    property bool copied: false

    readonly property string snippet: TextRules.trackingSnippet(siteID)

    spacing: 6
    onSnippetChanged: copied = false

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
        height: lineCount <= 4 ? contentHeight : Math.ceil(contentHeight * 4 / lineCount)
        clip: true
        // The lines break at spaces (a line break is as good a separator in HTML); a word
        // longer than a line, such as the site id, breaks wherever it must. Qt's own word
        // wrapping would also break after "/" and "-", inside the address and the id.
        text: wrapAtSpaces(snippetView.snippet, width)
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
        Accessible.name: snippetView.snippet

        function wrapAtSpaces(snippet, lineWidth) {
            const lines = []
            let line = ""
            for (const word of snippet.split(" ")) {
                const longer = line === "" ? word : line + " " + word
                if (line === "" || metrics.advanceWidth(longer) <= lineWidth) {
                    line = longer
                } else {
                    lines.push(line)
                    line = word
                }
            }
            lines.push(line)
            return lines.join("\n")
        }

        FontMetrics {
            id: metrics
            font: snippetText.font
        }
    }
}
