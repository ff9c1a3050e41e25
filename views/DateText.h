#pragma once

#include "Instant.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <optional>

// Time of an update: the short time alone when `at` falls on the same local day as `now`,
// else the medium date followed by the short time ("3:04 PM", "Jan 5, 2025, 3:04 PM").
QString updatedTimeText(Instant at, Instant now = Instant::now(), const QLocale &locale = QLocale::system(),
                        const QTimeZone &zone = QTimeZone::systemTimeZone());

// The dashboard footer: "Updated 3:04 PM", "Updated 3:04 PM · Out of date" when a failure is
// recorded beside the snapshot, "Not updated yet" without a snapshot, empty when only a failure
// exists (the failure banner speaks then).
QString footerStatusText(std::optional<Instant> refreshedAt, bool failureRecorded, Instant now = Instant::now(),
                         const QLocale &locale = QLocale::system(),
                         const QTimeZone &zone = QTimeZone::systemTimeZone());

// The hour alone in the locale's own form, e.g. "3 PM" or "15 Uhr".
QString hourText(Instant at, const QLocale &locale = QLocale::system(),
                 const QTimeZone &zone = QTimeZone::systemTimeZone());
