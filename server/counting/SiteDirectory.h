#pragma once

#include "EventRules.h"
#include "Storage.h"

#include <QHash>
#include <QString>
#include <mutex>
#include <optional>
#include <shared_mutex>

// The sites that their owners list, by upper-case id: the collector's door list, with the host
// each site's pages must be on. Reloaded after every saved state and now and then, so that
// tokens revoked from the command line count.
class SiteDirectory
{
public:
    struct Entry {
        qint64 id = 0;
        QString host;  // as EventRules::siteHost gives it
    };

    explicit SiteDirectory(Storage &storage) : m_storage(storage) {}

    void reload()
    {
        QHash<QString, Entry> listed;
        for (const auto &site : m_storage.listedSites())
            listed.insert(site.uuid, {site.id, EventRules::siteHost(site.domain)});
        std::unique_lock lock(m_lock);
        m_listed.swap(listed);
    }

    std::optional<Entry> find(const QString &upperUuid) const
    {
        std::shared_lock lock(m_lock);
        const auto found = m_listed.constFind(upperUuid);
        if (found == m_listed.cend())
            return std::nullopt;
        return *found;
    }

private:
    Storage &m_storage;
    mutable std::shared_mutex m_lock;
    QHash<QString, Entry> m_listed;
};
