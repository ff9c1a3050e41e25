#include "AnalyticsFailure.h"

namespace AnalyticsFailures {

const QList<AnalyticsFailure> &allCases()
{
    static const QList<AnalyticsFailure> cases{
        AnalyticsFailure::notConfigured,      AnalyticsFailure::offline,
        AnalyticsFailure::invalidCredentials, AnalyticsFailure::malformedResponse,
        AnalyticsFailure::unavailable,        AnalyticsFailure::rateLimited,
        AnalyticsFailure::timedOut,           AnalyticsFailure::credentialsUnreadable,
        AnalyticsFailure::cancelled};
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

AnalyticsFailure fromTransferFailure(TransferFailure failure)
{
    switch (failure) {
    case TransferFailure::cancelled: return AnalyticsFailure::cancelled;
    case TransferFailure::offline: return AnalyticsFailure::offline;
    case TransferFailure::timedOut: return AnalyticsFailure::timedOut;
    case TransferFailure::authenticationRequired: return AnalyticsFailure::invalidCredentials;
    case TransferFailure::protocolFailure:
    case TransferFailure::oversized: return AnalyticsFailure::malformedResponse;
    case TransferFailure::other: return AnalyticsFailure::unavailable;
    }
    Q_UNREACHABLE();
}

AnalyticsFailure classify(std::exception_ptr error)
{
    if (const std::optional<TransferFailure> transfer = transferFailure(error))
        return fromTransferFailure(*transfer);
    if (!error)
        return AnalyticsFailure::unavailable;
    try {
        std::rethrow_exception(error);
    } catch (AnalyticsFailure failure) {
        return failure;
    } catch (...) {
        return AnalyticsFailure::unavailable;
    }
}

}  // namespace AnalyticsFailures
