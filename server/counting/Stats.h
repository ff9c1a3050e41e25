#pragma once

#include "Storage.h"
#include "WireStats.h"

// The stats reply in two pure steps around one storage read: which ranges to read for a
// caller `offsetMinutes` east of UTC at `now`, and the reply built from what was read.
namespace Stats {

constexpr qint64 liveWindow = 5 * 60;
constexpr int recentVisits = 20;
constexpr int maximumOffset = 24 * 60 - 1;

FigureQuery query(qint64 site, int offsetMinutes, qint64 now);
WireStats reply(const Figures &figures, const FigureQuery &query);

}  // namespace Stats
