import QtQuick
import QtQuick.Controls.Basic
import Orvela

// A one-line text input with a rounded border, in the small control size, without any
// correction of what is typed.
TextField {
    id: field

    font.pixelSize: 12
    color: Theme.text
    placeholderTextColor: Theme.placeholderText
    selectionColor: Theme.accent
    selectedTextColor: Theme.onAccent
    selectByMouse: true
    inputMethodHints: Qt.ImhNoPredictiveText | Qt.ImhNoAutoUppercase
    leftPadding: 6
    rightPadding: 6
    topPadding: 3
    bottomPadding: 3
    implicitHeight: Math.max(22, contentHeight + topPadding + bottomPadding)
    Accessible.name: placeholderText
    // A long value shows its start, where a name or an address says most, rather than its end:
    // when filled in from elsewhere, and when reached from the keyboard, which selects it all
    // for typing over.
    onTextChanged: {
        if (!activeFocus)
            cursorPosition = 0
    }
    onActiveFocusChanged: {
        if (activeFocus && focusReason !== Qt.MouseFocusReason)
            select(length, 0)
    }

    background: Rectangle {
        radius: 5
        color: Theme.fieldBackground
        border.width: field.activeFocus ? 2 : 1
        border.color: field.activeFocus ? Theme.focusRing : Theme.fieldBorder
    }
}
