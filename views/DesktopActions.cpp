#include "DesktopActions.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

void DesktopActions::copyText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

void DesktopActions::openAddress(const QString &address)
{
    const QUrl url(address);
    if (url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http"))
        QDesktopServices::openUrl(url);
}

void DesktopActions::quit()
{
    emit quitRequested();
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}
