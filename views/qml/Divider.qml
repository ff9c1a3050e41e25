import QtQuick
import Orvela

// A hairline across the page.
Rectangle {
    implicitHeight: 1
    height: 1
    color: Theme.separator
    Accessible.ignored: true
}
