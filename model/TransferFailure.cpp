#include "TransferFailure.h"

TransferFailure transferFailure(const TransferError &error)
{
    using E = QNetworkReply::NetworkError;
    switch (error.code) {
    case E::NetworkSessionFailedError:
    case E::TemporaryNetworkFailureError:
    case E::BackgroundRequestNotAllowedError: return TransferFailure::offline;
    case E::TimeoutError:
    case E::ProxyTimeoutError: return TransferFailure::timedOut;
    case E::OperationCanceledError:
        // Without our own stop this is the transfer time-out.
        return error.stopRequested ? TransferFailure::cancelled : TransferFailure::timedOut;
    case E::AuthenticationRequiredError:
        return error.httpStatus ? TransferFailure::other : TransferFailure::authenticationRequired;
    case E::ProtocolFailure: return TransferFailure::protocolFailure;
    default: return TransferFailure::other;
    }
}

std::optional<TransferFailure> transferFailure(std::exception_ptr error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled &) {
        return TransferFailure::cancelled;
    } catch (const OversizedReply &) {
        return TransferFailure::oversized;
    } catch (const TransferError &transfer) {
        return transferFailure(transfer);
    } catch (...) {
        return std::nullopt;
    }
}
