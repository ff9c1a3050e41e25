#pragma once

#include <QNetworkReply>
#include <exception>
#include <optional>

// Thrown when a task notices that it was asked to stop.
struct TaskCancelled {
};

// A transfer that ended without a usable reply. Qt reports our own abort and its transfer
// time-out with the same code, so the value carries whether the stop was ours.
struct TransferError {
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    std::optional<int> httpStatus;
    bool stopRequested = false;
};

// The reply's body passed the transfer's limit; what arrived was dropped.
struct OversizedReply {
    qint64 limit = 0;
};

// How a transfer ended without a reply to read, the same for every client; each client puts
// it in its own words.
enum class TransferFailure {
    cancelled,               // our own stop
    offline,                 // no network to send it over
    timedOut,                // a time-out, Qt's or the transfer's own
    authenticationRequired,  // asked for credentials without an HTTP status
    protocolFailure,         // a reply that could not be parsed
    oversized,               // a body beyond the limit
    other,                   // host not found, connection refused or lost, TLS, …
};

TransferFailure transferFailure(const TransferError &error);
// No value when what was thrown is not about a transfer.
std::optional<TransferFailure> transferFailure(std::exception_ptr error);
