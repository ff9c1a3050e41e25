#include "TrackingSnippet.h"

QString trackingSnippet(const QUuid &siteID, const QUrl &baseURL)
{
    QUrl script = baseURL;
    QString path = baseURL.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    script.setPath(path + QStringLiteral("script.js"));
    const QString site = siteID.toString(QUuid::WithoutBraces).toLower();
    return QStringLiteral("<script defer src=\"%1\" data-site=\"%2\"></script>")
        .arg(script.toString(QUrl::FullyEncoded), site);
}
