#pragma once

#include <QNetworkReply>
#include <QString>
#include <exception>
#include <optional>

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

// Thrown when a task notices that it was asked to stop.
struct TaskCancelled {};

// A transfer that ended without a usable reply. Qt reports our own abort and its transfer
// time-out with the same code, so the value carries whether the stop was ours.
struct TransferError {
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    std::optional<int> httpStatus;
    bool stopRequested = false;
};

namespace AnalyticsFailures {
const QList<AnalyticsFailure> &allCases();
QString message(AnalyticsFailure failure);
AnalyticsFailure fromTransferError(const TransferError &error);
// Classifies whatever was thrown; unknown errors are `unavailable`.
AnalyticsFailure classify(std::exception_ptr error);
}
