#include "NetworkTransfer.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QScopedPointer>
#include <QThread>
#include <memory>

QNetworkAccessManager &sharedNetworkAccessManager()
{
    static QPointer<QNetworkAccessManager> manager;
    Q_ASSERT(QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread());
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

namespace {

QNetworkReply *send(QNetworkAccessManager &manager, const TransferRequest &request)
{
    if (request.method == "GET" && !request.body)
        return manager.get(request.request);
    if (request.body)
        return manager.sendCustomRequest(request.request, request.method, *request.body);
    return manager.sendCustomRequest(request.request, request.method);
}

// Errors that Qt derives from the HTTP status of a complete reply. Every other error that
// comes with a status means the body was cut short (connection lost, time-out, our abort).
bool describesStatus(QNetworkReply::NetworkError code)
{
    return (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError) ||
        code == QNetworkReply::ProtocolInvalidOperationError ||
        (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}

// Aborting from inside one of the reply's signals would finish it, and resume the awaiting
// coroutine, in the middle of that signal: always abort from the event loop instead.
void abortLater(QNetworkReply *reply)
{
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

}  // namespace

QCoro::Task<HttpReply> transfer(QNetworkAccessManager &manager, TransferRequest request, TransferLimits limits,
                                std::stop_token stop)
{
    if (stop.stop_requested())
        throw TaskCancelled{};

    request.request.setTransferTimeout(int(limits.timeout.count()));
    const std::unique_ptr<QNetworkReply, QScopedPointerDeleteLater> reply(send(manager, request));
    const bool truncate = limits.oversized == TransferLimits::Oversized::truncate;

    QByteArray body;
    bool oversized = false;
    bool truncated = false;
    // Owns the connections below, so none of them outlives this frame.
    QObject watcher;

    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &watcher, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!truncate && length.isValid() && length.toLongLong() > limits.maxBodyBytes && !oversized) {
            oversized = true;
            abortLater(reply.get());
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &watcher, [&] {
        if (oversized || truncated) {
            reply->skip(reply->bytesAvailable());
            return;
        }
        body += reply->readAll();
        if (truncate && body.size() >= limits.maxBodyBytes) {
            body.truncate(limits.maxBodyBytes);
            truncated = true;
            abortLater(reply.get());
        } else if (!truncate && body.size() > limits.maxBodyBytes) {
            body.clear();
            oversized = true;
            abortLater(reply.get());
        }
    });

    // The stop may come from another thread, so it only queues the abort. The callback is
    // destroyed before the reply, and its destructor waits for a callback still running.
    const std::stop_callback onStop(stop, [target = reply.get()] { abortLater(target); });

    co_await reply.get();

    // Whatever ended the transfer, a stop that was asked for wins.
    if (stop.stop_requested())
        throw TaskCancelled{};
    if (oversized)
        throw OversizedReply{limits.maxBodyBytes};

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const std::optional<int> status = statusAttribute.isValid() ? std::optional(statusAttribute.toInt()) : std::nullopt;
    if (truncated)
        co_return HttpReply{status, body};
    const auto error = reply->error();
    if (error != QNetworkReply::NoError && !(status && describesStatus(error)))
        throw TransferError{error, status, false};

    body += reply->readAll();
    if (body.size() > limits.maxBodyBytes) {
        if (!truncate)
            throw OversizedReply{limits.maxBodyBytes};
        body.truncate(limits.maxBodyBytes);
    }
    co_return HttpReply{status, body};
}
