#pragma once

#include <QHash>
#include <QString>
#include <functional>
#include <mutex>

// Events refused because their page is not on the site's domain. A misconfigured domain must
// show, yet a flood must not fill the log: one line per site at once, then at most one a
// minute with the count since the last.
class HostRefusals
{
public:
    using Sink = std::function<void(const QString &line)>;

    static constexpr qint64 quietSeconds = 60;

    explicit HostRefusals(Sink sink);

    // Safe from any thread.
    void refuse(const QString &siteUuid, const QString &siteHost, const QString &pageHost, qint64 now);

private:
    struct Site {
        qint64 reportedAt = 0;
        qint64 unreported = 0;
        bool reported = false;
    };

    Sink m_sink;
    std::mutex m_lock;
    QHash<QString, Site> m_sites;
};
