#pragma once

#include <QObject>
#include <QQmlEngine>
#include <QString>

// What the pages ask of the desktop (the `Desktop` singleton).
class DesktopActions : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Desktop)
    QML_SINGLETON

public:
    using QObject::QObject;

    // Empties the clipboard, then puts the text on it, so nothing copied earlier stays beside it.
    Q_INVOKABLE void copyText(const QString &text);
    // Opens a web address in the user's browser.
    Q_INVOKABLE void openAddress(const QString &address);
    // Asks the application to end, from the event loop so the page's click finishes first.
    Q_INVOKABLE void quit();

signals:
    void quitRequested();
};
