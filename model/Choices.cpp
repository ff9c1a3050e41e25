#include "Choices.h"

namespace RefreshIntervals {

const QList<RefreshInterval> &allCases()
{
    static const QList<RefreshInterval> cases{RefreshInterval::thirty, RefreshInterval::sixty,
                                              RefreshInterval::oneTwenty};
    return cases;
}

std::optional<RefreshInterval> fromRawValue(qint64 raw)
{
    for (auto interval : allCases())
        if (rawValue(interval) == raw)
            return interval;
    return std::nullopt;
}

QString title(RefreshInterval interval)
{
    return QStringLiteral("%1 seconds").arg(rawValue(interval));
}

}  // namespace RefreshIntervals

namespace MenuBarMetrics {

const QList<MenuBarMetric> &allCases()
{
    static const QList<MenuBarMetric> cases{MenuBarMetric::live, MenuBarMetric::today, MenuBarMetric::week,
                                            MenuBarMetric::month, MenuBarMetric::allTime};
    return cases;
}

std::optional<MenuBarMetric> fromRawValue(const QString &raw)
{
    for (auto metric : allCases())
        if (rawValue(metric) == raw)
            return metric;
    return std::nullopt;
}

QString rawValue(MenuBarMetric metric)
{
    switch (metric) {
    case MenuBarMetric::live: return QStringLiteral("live");
    case MenuBarMetric::today: return QStringLiteral("today");
    case MenuBarMetric::week: return QStringLiteral("week");
    case MenuBarMetric::month: return QStringLiteral("month");
    case MenuBarMetric::allTime: return QStringLiteral("allTime");
    }
    Q_UNREACHABLE();
}

QString title(MenuBarMetric metric)
{
    switch (metric) {
    case MenuBarMetric::live: return QStringLiteral("Live");
    case MenuBarMetric::today: return QStringLiteral("Today");
    case MenuBarMetric::week: return QStringLiteral("Week");
    case MenuBarMetric::month: return QStringLiteral("Month");
    case MenuBarMetric::allTime: return QStringLiteral("All time");
    }
    Q_UNREACHABLE();
}

QString visitorPhrase(MenuBarMetric metric)
{
    switch (metric) {
    case MenuBarMetric::live: return QStringLiteral("live visitors");
    case MenuBarMetric::today: return QStringLiteral("visitors today");
    case MenuBarMetric::week: return QStringLiteral("visitors this week");
    case MenuBarMetric::month: return QStringLiteral("visitors this month");
    case MenuBarMetric::allTime: return QStringLiteral("visitors all time");
    }
    Q_UNREACHABLE();
}

}  // namespace MenuBarMetrics

namespace PanelAppearances {

const QList<PanelAppearance> &allCases()
{
    static const QList<PanelAppearance> cases{PanelAppearance::light, PanelAppearance::dark, PanelAppearance::system};
    return cases;
}

std::optional<PanelAppearance> fromRawValue(const QString &raw)
{
    for (auto appearance : allCases())
        if (rawValue(appearance) == raw)
            return appearance;
    return std::nullopt;
}

QString rawValue(PanelAppearance appearance)
{
    switch (appearance) {
    case PanelAppearance::light: return QStringLiteral("light");
    case PanelAppearance::dark: return QStringLiteral("dark");
    case PanelAppearance::system: return QStringLiteral("system");
    }
    Q_UNREACHABLE();
}

QString title(PanelAppearance appearance)
{
    switch (appearance) {
    case PanelAppearance::light: return QStringLiteral("Light");
    case PanelAppearance::dark: return QStringLiteral("Dark");
    case PanelAppearance::system: return QStringLiteral("System");
    }
    Q_UNREACHABLE();
}

}  // namespace PanelAppearances
