#pragma once

#include "Storage.h"

#include <QHash>
#include <QString>
#include <optional>
#include <mutex>
#include <shared_mutex>

// The sites that some account lists, by upper-case id: the collector's door list. Reloaded
// after every saved state and now and then, so tokens revoked from the command line count.
class SiteDirectory
{
public:
    explicit SiteDirectory(Storage &storage) : m_storage(storage) {}

    void reload()
    {
        QHash<QString, qint64> listed;
        for (const auto &site : m_storage.sites()) {
            if (site.owner)
                listed.insert(site.uuid, site.id);
        }
        std::unique_lock lock(m_lock);
        m_listed.swap(listed);
    }

    std::optional<qint64> find(const QString &upperUuid) const
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
    QHash<QString, qint64> m_listed;
};
