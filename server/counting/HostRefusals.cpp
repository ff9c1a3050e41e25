#include "HostRefusals.h"

HostRefusals::HostRefusals(Sink sink) : m_sink(std::move(sink)) {}

void HostRefusals::refuse(const QString &siteUuid, const QString &siteHost, const QString &pageHost, qint64 now)
{
    qint64 count = 0;
    {
        std::lock_guard lock(m_lock);
        Site &site = m_sites[siteUuid];
        ++site.unreported;
        if (site.reported && now >= site.reportedAt && now - site.reportedAt < quietSeconds)
            return;
        count = site.unreported;
        site = {now, 0, true};
    }
    const QString expected = siteHost.isEmpty() ? QStringLiteral("(its account gave no usable domain)") : siteHost;
    const QString from = pageHost.isEmpty() ? QStringLiteral("a page without an address") : pageHost;
    m_sink(QStringLiteral("orvela-server: refused %1 %2 for site %3: the page is not on %4 or a subdomain of it "
                          "(the last from %5)")
               .arg(count)
               .arg(count == 1 ? QStringLiteral("event") : QStringLiteral("events"), siteUuid, expected, from));
}
