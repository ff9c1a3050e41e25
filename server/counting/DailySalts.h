#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// Where the key of the visitor hashes comes from: one salt per UTC day. A salt must never be
// stored beside the hashes it keys: with both, trying every address of a network gives back
// each visitor's address in seconds. So no source writes it into the data folder.
class DailySalts
{
public:
    virtual ~DailySalts() = default;

    // The salt of UTC day `day`, made now if the source makes them and it has none yet. No
    // value when that day's salt is gone for good.
    virtual std::optional<QByteArray> salt(qint64 day) = 0;
    // The salt of `day` only if it is still kept; never makes one.
    virtual std::optional<QByteArray> keptSalt(qint64 day) = 0;
    // Forgets the salts of the days before `day` for good.
    virtual void forgetBefore(qint64 day) = 0;
};
