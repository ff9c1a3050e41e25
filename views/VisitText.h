#pragma once

#include "AnalyticsSnapshot.h"

#include <QList>
#include <QString>

// Countries with visitors, in delivered order, at most six.
QList<CountryVisitors> shownCountries(const QList<CountryVisitors> &countries);

// The first eight recent visitors, in delivered order.
QList<RecentVisitor> shownVisitors(const QList<RecentVisitor> &visitors);

// "45s", "2m", "2h", "1h 6m"; whole units, negative counts as 0.
QString visitDuration(qint64 seconds);

// Where a visit came from: "Direct" when blank, the host without "www." for an address,
// else the trimmed text as given.
QString referrerSource(const QString &referrer);

// "google.com → /pricing +2": the source, the first page and how many pages followed.
QString visitSummary(const QString &referrer, const QList<QString> &pages);

// "Clicked a, b, c" with at most three clicks; empty when there are none.
QString clickedText(const QList<QString> &clicks);
