#include "SettingsText.h"

#include <algorithm>
#include <cmath>

QString websiteRowTitle(const Website &website)
{
    const QString name = trimmedText(website.displayName);
    return name.isEmpty() ? website.domain : name;
}

bool websiteRowShowsSubtitle(const Website &website)
{
    const QString name = trimmedText(website.displayName);
    return !name.isEmpty() && name.compare(website.domain, Qt::CaseInsensitive) != 0;
}

QString refreshCaption(RefreshInterval chosen, double providerMinimumSeconds)
{
    const double chosenSeconds = RefreshIntervals::seconds(chosen);
    // A minimum that is not a finite number of seconds cannot be written as one.
    if (!std::isfinite(providerMinimumSeconds) || providerMinimumSeconds <= chosenSeconds)
        return {};
    // The minimum is the larger value here; whole seconds, cut toward zero, kept in range.
    const qint64 seconds = qint64(std::min(providerMinimumSeconds, 1e15));
    return QStringLiteral("This provider allows a refresh every %1 seconds.").arg(seconds);
}
