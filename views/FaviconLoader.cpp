#include "FaviconLoader.h"

#include "AnalyticsFailure.h"
#include "NetworkTransfer.h"

namespace Favicon {

namespace {

QCoro::Task<std::optional<HttpReply>> get(QNetworkAccessManager &manager, QUrl url, QByteArray accept,
                                          TransferLimits limits, std::stop_token stop)
{
    TransferRequest request;
    request.request.setUrl(url);
    if (!accept.isEmpty())
        request.request.setRawHeader("Accept", accept);
    try {
        HttpReply reply = co_await transfer(manager, request, limits, stop);
        if (reply.status && *reply.status >= 200 && *reply.status <= 299)
            co_return reply;
    } catch (const TaskCancelled &) {
        throw;
    } catch (...) {
        // Unreachable sites and oversized bodies simply yield nothing.
    }
    co_return std::nullopt;
}

}  // namespace

QCoro::Task<std::optional<QImage>> fetch(QNetworkAccessManager &manager, QString domain, std::stop_token stop)
{
    const std::optional<QUrl> site = origin(domain);
    if (!site)
        co_return std::nullopt;

    const TransferLimits pageLimits{requestTimeout, pageByteLimit, TransferLimits::Oversized::truncate};
    const std::optional<HttpReply> page =
        co_await get(manager, *site, QByteArrayLiteral("text/html"), pageLimits, stop);
    const QList<QUrl> declared = page ? declaredIcons(page->body, *site) : QList<QUrl>();

    const TransferLimits iconLimits{requestTimeout, largestIconBytes, TransferLimits::Oversized::reject};
    for (const QUrl &candidate : candidates(declared, *site)) {
        if (!isWebAddress(candidate))
            continue;
        const std::optional<HttpReply> reply = co_await get(manager, candidate, {}, iconLimits, stop);
        if (!reply)
            continue;
        if (std::optional<QImage> image = usableImage(reply->body))
            co_return image;
    }
    co_return std::nullopt;
}

}  // namespace Favicon

FaviconLoader::FaviconLoader(QObject *parent) : QObject(parent) {}

FaviconLoader::~FaviconLoader()
{
    m_stop.request_stop();
}

void FaviconLoader::setDomain(const QString &domain)
{
    if (domain == m_domain)
        return;
    m_domain = domain;
    emit domainChanged();

    m_stop.request_stop();
    m_stop = std::stop_source();
    load(QPointer(this), m_domain, m_stop.get_token());
}

QCoro::Task<> FaviconLoader::load(QPointer<FaviconLoader> self, QString domain, std::stop_token stop)
{
    std::optional<QImage> image;
    try {
        image = co_await Favicon::fetch(sharedNetworkAccessManager(), domain, stop);
    } catch (const TaskCancelled &) {
        // A newer load, or none at all, owns the result now.
        co_return;
    } catch (...) {
        // Every other failure just leaves the globe.
    }
    if (self && !stop.stop_requested())
        self->finish(image);
}

void FaviconLoader::finish(const std::optional<QImage> &image)
{
    const QImage next = image.value_or(QImage());
    if (next != m_image || next.isNull() != m_image.isNull()) {
        m_image = next;
        emit imageChanged();
    }
    emit loadFinished();
}
