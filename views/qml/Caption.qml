import QtQuick
import QtQuick.Controls.Basic
import Orvela

// Small secondary text: captions, headings of blocks, messages.
Label {
    font.pixelSize: 11
    color: Theme.secondaryText
}
