#include "GeoIp.h"

#include "EventRules.h"

#include <QFile>
#include <maxminddb.h>
#include <stdexcept>

GeoIp::GeoIp(const QString &path) : m_db(std::make_unique<MMDB_s>())
{
    const int status = MMDB_open(QFile::encodeName(path).constData(), MMDB_MODE_MMAP, m_db.get());
    if (status != MMDB_SUCCESS) {
        m_db.reset();
        throw std::runtime_error(MMDB_strerror(status));
    }
}

GeoIp::~GeoIp()
{
    if (m_db)
        MMDB_close(m_db.get());
}

QString GeoIp::country(const QString &address) const
{
    int addressError = 0;
    int status = MMDB_SUCCESS;
    MMDB_lookup_result_s result =
        MMDB_lookup_string(m_db.get(), address.toLatin1().constData(), &addressError, &status);
    if (addressError != 0 || status != MMDB_SUCCESS || !result.found_entry)
        return {};
    MMDB_entry_data_s data;
    if (MMDB_get_value(&result.entry, &data, "country", "iso_code", nullptr) != MMDB_SUCCESS || !data.has_data ||
        data.type != MMDB_DATA_TYPE_UTF8_STRING)
        return {};
    return EventRules::countryCode(QString::fromUtf8(data.utf8_string, int(data.data_size)));
}
