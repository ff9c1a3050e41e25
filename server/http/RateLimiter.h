#pragma once

#include <QString>
#include <mutex>
#include <string>
#include <unordered_map>

// A token bucket per client address, kept only in memory.
class RateLimiter
{
public:
    RateLimiter(double burst, double perSecond) : m_burst(burst), m_perSecond(perSecond) {}

    bool allow(const QString &client, qint64 now);

private:
    struct Bucket {
        double tokens = 0;
        qint64 updated = 0;
    };

    static constexpr int shardCount = 16;
    struct Shard {
        std::mutex lock;
        std::unordered_map<std::string, Bucket> buckets;
    };

    double m_burst;
    double m_perSecond;
    Shard m_shards[shardCount];
};
