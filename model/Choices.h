#pragma once

#include <QList>
#include <QString>
#include <optional>

// The user's choices, with their fixed raw values and titles.

enum class RefreshInterval { thirty = 30, sixty = 60, oneTwenty = 120 };

namespace RefreshIntervals {
const QList<RefreshInterval> &allCases();
std::optional<RefreshInterval> fromRawValue(qint64 raw);
inline int rawValue(RefreshInterval interval)
{
    return int(interval);
}
inline double seconds(RefreshInterval interval)
{
    return double(interval);
}
QString title(RefreshInterval interval);
}  // namespace RefreshIntervals

enum class MenuBarMetric { live, today, week, month, allTime };

namespace MenuBarMetrics {
const QList<MenuBarMetric> &allCases();
std::optional<MenuBarMetric> fromRawValue(const QString &raw);
QString rawValue(MenuBarMetric metric);
QString title(MenuBarMetric metric);
QString visitorPhrase(MenuBarMetric metric);
}  // namespace MenuBarMetrics

enum class PanelAppearance { light, dark, system };

namespace PanelAppearances {
const QList<PanelAppearance> &allCases();
std::optional<PanelAppearance> fromRawValue(const QString &raw);
QString rawValue(PanelAppearance appearance);
QString title(PanelAppearance appearance);
}  // namespace PanelAppearances
