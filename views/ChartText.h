#pragma once

#include "AnalyticsSnapshot.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

inline constexpr double chartBarAreaHeight = 80;

// The largest visitor count of the hours, and never below 1 so that no bar divides by zero.
qint64 chartScaleMaximum(const QList<HourlyVisitorCount> &hours);

// A bar's height in points: its share of the scale maximum, at least 1 so an empty hour still
// shows, at most the full height.
double chartBarHeight(qint64 visitors, qint64 scaleMaximum, double fullHeight = chartBarAreaHeight);

// The read-out of one hour, e.g. "3 PM · 1,204".
QString hourReadout(const HourlyVisitorCount &hour, const QLocale &locale = QLocale::system(),
                    const QTimeZone &zone = QTimeZone::systemTimeZone());
