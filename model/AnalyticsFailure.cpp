#include "AnalyticsFailure.h"

namespace AnalyticsFailures {

const QList<AnalyticsFailure> &allCases()
{
    static const QList<AnalyticsFailure> cases{
        AnalyticsFailure::notConfigured,     AnalyticsFailure::offline,     AnalyticsFailure::invalidCredentials,
        AnalyticsFailure::malformedResponse, AnalyticsFailure::unavailable, AnalyticsFailure::rateLimited,
        AnalyticsFailure::timedOut,          AnalyticsFailure::credentialsUnreadable, AnalyticsFailure::cancelled};
    return cases;
}

QString message(AnalyticsFailure failure)
{
    switch (failure) {
    case AnalyticsFailure::notConfigured: return QStringLiteral("Analytics provider is not configured.");
    case AnalyticsFailure::offline: return QStringLiteral("No internet connection.");
    case AnalyticsFailure::invalidCredentials: return QStringLiteral("Credentials were rejected.");
    case AnalyticsFailure::malformedResponse: return QStringLiteral("The analytics response could not be read.");
    case AnalyticsFailure::unavailable: return QStringLiteral("Visitor data is unavailable.");
    case AnalyticsFailure::rateLimited: return QStringLiteral("The provider asked us to wait.");
    case AnalyticsFailure::timedOut: return QStringLiteral("The request timed out.");
    case AnalyticsFailure::credentialsUnreadable: return QStringLiteral("Saved credentials could not be read.");
    case AnalyticsFailure::cancelled: return QString();
    }
    Q_UNREACHABLE();
}

AnalyticsFailure fromTransferError(const TransferError &error)
{
    using E = QNetworkReply::NetworkError;
    switch (error.code) {
    case E::NetworkSessionFailedError:
    case E::TemporaryNetworkFailureError:
    case E::BackgroundRequestNotAllowedError:
        return AnalyticsFailure::offline;
    case E::TimeoutError:
    case E::ProxyTimeoutError:
        return AnalyticsFailure::timedOut;
    case E::OperationCanceledError:
        return error.stopRequested ? AnalyticsFailure::cancelled : AnalyticsFailure::timedOut;
    case E::AuthenticationRequiredError:
        return error.httpStatus ? AnalyticsFailure::unavailable : AnalyticsFailure::invalidCredentials;
    case E::ProtocolFailure:
        return AnalyticsFailure::malformedResponse;
    default:
        return AnalyticsFailure::unavailable;
    }
}

AnalyticsFailure classify(std::exception_ptr error)
{
    if (!error)
        return AnalyticsFailure::unavailable;
    try {
        std::rethrow_exception(error);
    } catch (AnalyticsFailure failure) {
        return failure;
    } catch (const TaskCancelled &) {
        return AnalyticsFailure::cancelled;
    } catch (const TransferError &transfer) {
        return fromTransferError(transfer);
    } catch (...) {
        return AnalyticsFailure::unavailable;
    }
}

}  // namespace AnalyticsFailures
