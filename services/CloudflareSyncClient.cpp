#include "CloudflareSyncClient.h"

#include "AnalyticsFailure.h"
#include "Json.h"
#include "WireState.h"

namespace {

const QString statePath = QStringLiteral("/v1/state");

}  // namespace

CloudSyncError cloudSyncErrorFrom(std::exception_ptr error)
{
    if (!error)
        return CloudSyncError::server;
    try {
        std::rethrow_exception(error);
    } catch (CloudSyncError cloudError) {
        return cloudError;
    } catch (const TaskCancelled &) {
        return CloudSyncError::cancelled;
    } catch (const OversizedReply &) {
        return CloudSyncError::malformedResponse;
    } catch (const TransferError &transfer) {
        switch (transfer.code) {
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::TemporaryNetworkFailureError:
        case QNetworkReply::BackgroundRequestNotAllowedError:
            return CloudSyncError::offline;
        case QNetworkReply::OperationCanceledError:
            // Without our own stop this is the transfer time-out, which is a server failure here.
            return transfer.stopRequested ? CloudSyncError::cancelled : CloudSyncError::server;
        default:
            return CloudSyncError::server;
        }
    } catch (...) {
        return CloudSyncError::server;
    }
}

CloudflareSyncClient::CloudflareSyncClient(BaseURLProvider baseURL, TokenProvider tokenProvider, QNetworkAccessManager &session,
                                           TransferLimits limits)
    : m_baseURL(std::move(baseURL))
    , m_tokenProvider(std::move(tokenProvider))
    , m_session(&session)
    , m_limits(limits)
{
}

TransferRequest CloudflareSyncClient::makeRequest(const QString &path, const QByteArray &method,
                                                  const std::optional<QByteArray> &body) const
{
    const QString token = trimmedText(m_tokenProvider ? m_tokenProvider() : QString());
    if (token.isEmpty())
        throw CloudSyncError::missingToken;

    const QUrl base = m_baseURL ? m_baseURL() : QUrl();
    if (!base.isValid() || base.isRelative() || base.host().isEmpty())
        throw CloudSyncError::server;
    const QUrl url = base.resolved(QUrl(path));
    if (!url.isValid())
        throw CloudSyncError::server;

    TransferRequest request;
    request.request.setUrl(url);
    request.method = method;
    request.request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.request.setRawHeader("Accept", "application/json");
    // The bearer token goes to the service's own origin and nowhere else.
    request.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (body) {
        request.request.setRawHeader("Content-Type", "application/json");
        request.body = *body;
    }
    return request;
}

QCoro::Task<CloudSyncState> CloudflareSyncClient::perform(TransferRequest request, std::stop_token stop)
{
    HttpReply reply;
    try {
        reply = co_await transfer(*m_session, request, m_limits, stop);
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
    TransferRequest request = makeRequest(statePath, QByteArrayLiteral("GET"), std::nullopt);
    co_return co_await perform(std::move(request), stop);
}

QCoro::Task<CloudSyncState> CloudflareSyncClient::saveState(CloudSyncState state, std::stop_token stop)
{
    const QByteArray body = WireState::forUpload(state).encode();
    TransferRequest request = makeRequest(statePath, QByteArrayLiteral("PUT"), body);
    co_return co_await perform(std::move(request), stop);
}
