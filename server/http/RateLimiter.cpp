#include "RateLimiter.h"

#include <algorithm>
#include <functional>

bool RateLimiter::allow(const QString &client, qint64 now)
{
    const std::string key = client.toStdString();
    Shard &shard = m_shards[std::hash<std::string>{}(key) % shardCount];
    std::lock_guard lock(shard.lock);
    // Full buckets carry no information: forget them when the table grows.
    if (shard.buckets.size() > 50000) {
        std::erase_if(shard.buckets, [&](const auto &entry) {
            return entry.second.tokens + double(now - entry.second.updated) * m_perSecond >= m_burst;
        });
    }
    auto [found, added] = shard.buckets.try_emplace(key, Bucket{m_burst, now});
    Bucket &bucket = found->second;
    if (now > bucket.updated) {
        bucket.tokens = std::min(m_burst, bucket.tokens + double(now - bucket.updated) * m_perSecond);
        bucket.updated = now;
    }
    if (bucket.tokens < 1)
        return false;
    bucket.tokens -= 1;
    return true;
}
