import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Orvela

// The main page while no website exists.
PanelPage {
    id: emptyState

    signal connect()
    signal settings()

    objectName: "emptyStateView"
    leftPadding: 16
    rightPadding: 16
    topPadding: 10
    bottomPadding: 18

    contentItem: Column {
        spacing: 0

        RowLayout {
            width: parent.width

            Item {
                Layout.fillWidth: true
            }

            PlainButton {
                objectName: "settingsButton"
                symbol: "gearshape"
                symbolPointSize: 13
                tooltip: "Settings"
                onClicked: emptyState.settings()
            }
        }

        Label {
            objectName: "tagLine"
            anchors.horizontalCenter: parent.horizontalCenter
            topPadding: 8
            bottomPadding: 14
            text: "Your website, at a glance."
            font.pixelSize: 13
            color: Theme.text
        }

        ProminentButton {
            objectName: "connectButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Connect website"
            onClicked: emptyState.connect()
        }
    }
}
