#pragma once

#include "TransferFailure.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>
#include <chrono>
#include <optional>
#include <stop_token>

class QNetworkAccessManager;

// The process's one network access manager, made on first use on the main thread and
// owned by the application object.
QNetworkAccessManager &sharedNetworkAccessManager();

struct TransferRequest {
    QNetworkRequest request;
    QByteArray method = QByteArrayLiteral("GET");
    // Absent: nothing is uploaded and no Content-Length is sent.
    std::optional<QByteArray> body;
};

struct TransferLimits {
    // Longest time without any progress; 0 waits for ever.
    std::chrono::milliseconds timeout = std::chrono::seconds(20);
    // Bodies beyond this are never held in memory.
    qint64 maxBodyBytes = 8 * 1024 * 1024;
    // `reject` throws OversizedReply; `truncate` keeps the first maxBodyBytes and stops there.
    enum class Oversized { reject, truncate } oversized = Oversized::reject;
};

struct HttpReply {
    // Absent when the reply did not come over HTTP.
    std::optional<int> status;
    QByteArray body;
};

// Sends one request and awaits its reply on the calling (main) thread. A complete reply that
// carries an HTTP status is returned whatever the status. A requested stop aborts the transfer
// and throws TaskCancelled; any other transfer that ends without a complete reply throws
// TransferError, so Qt's OperationCanceledError there is the time-out. An oversized body throws
// OversizedReply.
QCoro::Task<HttpReply> transfer(QNetworkAccessManager &manager, TransferRequest request, TransferLimits limits,
                                std::stop_token stop);
