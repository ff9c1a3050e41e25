import QtQuick
import Orvela

// A website's icon, found from its domain; a globe until it arrives and when there is none.
Item {
    id: favicon

    property string domain

    implicitWidth: 16
    implicitHeight: 16
    Accessible.role: Accessible.Graphic
    Accessible.name: "Website icon"

    FaviconLoader {
        id: loader
        domain: favicon.domain
    }

    ImageItem {
        objectName: "faviconImage"
        anchors.fill: parent
        radius: 3
        image: loader.image
        visible: loader.hasImage
    }

    Symbol {
        objectName: "faviconGlobe"
        anchors.centerIn: parent
        visible: !loader.hasImage
        name: "globe"
        pointSize: 11
        color: Theme.secondaryText
    }
}
