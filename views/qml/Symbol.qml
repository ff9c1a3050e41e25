import QtQuick
import Orvela

// One of the app's symbols, sized like a glyph of the given point size, in one colour.
Image {
    id: symbol

    property string name
    property color color: Theme.secondaryText
    property real pointSize: 13

    readonly property int side: Math.round(pointSize * 1.2)

    width: side
    height: side
    sourceSize.width: side
    sourceSize.height: side
    source: name === "" ? "" : "image://symbol/" + name + "/" + color.toString().substring(1)
    fillMode: Image.PreserveAspectFit
    smooth: true
    Accessible.ignored: true
}
