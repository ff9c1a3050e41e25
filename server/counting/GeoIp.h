#pragma once

#include <QString>
#include <memory>

struct MMDB_s;

// Country of an address from a MaxMind-format database (GeoLite2-Country, DB-IP and the like).
class GeoIp
{
public:
    // Throws std::runtime_error with libmaxminddb's reason when the file cannot be opened.
    explicit GeoIp(const QString &path);
    ~GeoIp();

    // Upper-case ISO 3166 code, or empty when the address is not in the database.
    QString country(const QString &address) const;

private:
    std::unique_ptr<MMDB_s> m_db;
};
