#include "ChartText.h"

#include "DateText.h"
#include "NumberText.h"

#include <algorithm>

qint64 chartScaleMaximum(const QList<HourlyVisitorCount> &hours)
{
    qint64 maximum = 1;
    for (const HourlyVisitorCount &hour : hours)
        maximum = std::max(maximum, hour.visitors);
    return maximum;
}

double chartBarHeight(qint64 visitors, qint64 scaleMaximum, double fullHeight)
{
    // Clamped so a scale taken from other hours never pushes a bar out of its row.
    const double share = double(visitors) / double(std::max<qint64>(scaleMaximum, 1));
    return std::clamp(share * fullHeight, 1.0, std::max(fullHeight, 1.0));
}

QString hourReadout(const HourlyVisitorCount &hour, const QLocale &locale, const QTimeZone &zone)
{
    return hourText(hour.start, locale, zone) + QStringLiteral(" \u00B7 ") + countText(hour.visitors, locale);
}
