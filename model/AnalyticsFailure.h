#pragma once

#include "TransferFailure.h"

#include <QString>
#include <exception>

// The one error of analytics fetching. Thrown by value and stored per website.
enum class AnalyticsFailure {
    notConfigured,
    offline,
    invalidCredentials,
    malformedResponse,
    unavailable,
    rateLimited,
    timedOut,
    credentialsUnreadable,
    cancelled,
};

namespace AnalyticsFailures {
const QList<AnalyticsFailure> &allCases();
QString message(AnalyticsFailure failure);
AnalyticsFailure fromTransferFailure(TransferFailure failure);
// Classifies whatever was thrown; unknown errors are `unavailable`.
AnalyticsFailure classify(std::exception_ptr error);
}  // namespace AnalyticsFailures
