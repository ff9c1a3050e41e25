#include "CloudflareSyncClient.h"

#include "Json.h"
#include "WireState.h"

namespace {

const QString statePath = QStringLiteral("/v1/state");

}  // namespace

CloudSyncError cloudSyncErrorFrom(std::exception_ptr error)
{
    if (const std::optional<TransferFailure> transfer = transferFailure(error)) {
        switch (*transfer) {
        case TransferFailure::cancelled: return CloudSyncError::cancelled;
        case TransferFailure::offline: return CloudSyncError::offline;
        case TransferFailure::oversized: return CloudSyncError::malformedResponse;
        // A time-out, too, is a failure of the service here.
        case TransferFailure::timedOut:
        case TransferFailure::authenticationRequired:
        case TransferFailure::protocolFailure:
        case TransferFailure::other: return CloudSyncError::server;
        }
    }
    if (!error)
        return CloudSyncError::server;
    try {
        std::rethrow_exception(error);
    } catch (CloudSyncError cloudError) {
        return cloudError;
    } catch (...) {
        return CloudSyncError::server;
    }
}

CloudflareSyncClient::CloudflareSyncClient(BaseURLProvider baseURL, TokenProvider tokenProvider,
                                           QNetworkAccessManager &session, TransferLimits limits)
    : m_tokenProvider(std::move(tokenProvider)),
      m_requests(std::move(baseURL), session, limits)
{}

QCoro::Task<CloudSyncState> CloudflareSyncClient::perform(QByteArray method, std::optional<QByteArray> body,
                                                          std::stop_token stop)
{
    TransferRequest request;
    try {
        request = m_requests.build(m_tokenProvider ? m_tokenProvider() : QString(), statePath, {}, method, body);
    } catch (ServiceRequestProblem problem) {
        throw problem == ServiceRequestProblem::missingToken ? CloudSyncError::missingToken : CloudSyncError::server;
    }

    HttpReply reply;
    try {
        reply = co_await m_requests.send(std::move(request), stop);
    } catch (...) {
        throw cloudSyncErrorFrom(std::current_exception());
    }

    if (!reply.status)
        throw CloudSyncError::malformedResponse;
    switch (*reply.status) {
    case 200: break;
    case 400: throw CloudSyncError::malformedResponse;
    case 401: throw CloudSyncError::unauthorized;
    default: throw CloudSyncError::server;
    }

    std::optional<CloudSyncState> state;
    try {
        state = WireState::decode(reply.body).toCloudSyncState();
    } catch (const JsonError &) {
        throw CloudSyncError::malformedResponse;
    }
    if (!state)
        throw CloudSyncError::malformedResponse;
    co_return *state;
}

QCoro::Task<CloudSyncState> CloudflareSyncClient::loadState(std::stop_token stop)
{
    co_return co_await perform(QByteArrayLiteral("GET"), std::nullopt, stop);
}

QCoro::Task<CloudSyncState> CloudflareSyncClient::saveState(CloudSyncState state, std::stop_token stop)
{
    const QByteArray body = WireState::forUpload(state).encode();
    co_return co_await perform(QByteArrayLiteral("PUT"), body, stop);
}
