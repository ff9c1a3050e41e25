#include "VisitText.h"

#include "Website.h"

#include <QStringList>
#include <QUrl>
#include <algorithm>

QList<CountryVisitors> shownCountries(const QList<CountryVisitors> &countries)
{
    QList<CountryVisitors> shown;
    for (const CountryVisitors &country : countries) {
        if (shown.size() == 6)
            break;
        if (country.visitors > 0)
            shown.append(country);
    }
    return shown;
}

QList<RecentVisitor> shownVisitors(const QList<RecentVisitor> &visitors)
{
    return visitors.first(std::min<qsizetype>(visitors.size(), 8));
}

QString visitDuration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60)
        return QStringLiteral("%1s").arg(seconds);
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1m").arg(minutes);
    const qint64 hours = minutes / 60;
    const qint64 restMinutes = minutes % 60;
    if (restMinutes == 0)
        return QStringLiteral("%1h").arg(hours);
    return QStringLiteral("%1h %2m").arg(hours).arg(restMinutes);
}

QString referrerSource(const QString &referrer)
{
    const QString trimmed = trimmedText(referrer);
    if (trimmed.isEmpty())
        return QStringLiteral("Direct");
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString host = url.isValid() ? url.host(QUrl::FullyDecoded).toLower() : QString();
    if (host.isEmpty())
        return trimmed;
    // A host of just "www." would leave nothing to show.
    if (host.startsWith(QStringLiteral("www.")) && host.size() > 4)
        return host.mid(4);
    return host;
}

QString visitSummary(const QString &referrer, const QList<QString> &pages)
{
    const QString source = referrerSource(referrer);
    const QString firstPage = pages.isEmpty() ? QString() : trimmedText(pages.first());
    if (firstPage.isEmpty())
        return source;
    QString summary = source + QStringLiteral(" \u2192 ") + firstPage;
    if (pages.size() >= 2)
        summary += QStringLiteral(" +%1").arg(pages.size() - 1);
    return summary;
}

QString clickedText(const QList<QString> &clicks)
{
    if (clicks.isEmpty())
        return {};
    return QStringLiteral("Clicked ") + QStringList(clicks.first(std::min<qsizetype>(clicks.size(), 3))).join(u", ");
}
