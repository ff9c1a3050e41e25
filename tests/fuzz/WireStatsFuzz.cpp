// The stats reply as a service sends it: whatever is read must be written back to the same
// reply, and every date in it must be one the wire form can carry.
#include "FuzzCheck.h"
#include "Json.h"
#include "WireStats.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    WireStats stats;
    try {
        stats = WireStats::decode(bytes);
    } catch (const JsonError &) {
        return 0;
    }
    WireStats again;
    try {
        again = WireStats::decode(stats.encode());
    } catch (const JsonError &) {
        FUZZ_CHECK(!"a decoded reply encodes to one that reads back");
    }
    FUZZ_CHECK(again == stats);
    const AnalyticsSnapshot snapshot = stats.toSnapshot(Instant{0});
    FUZZ_CHECK(AnalyticsSnapshot::fromJson(snapshot.toJson()) == snapshot);
    return 0;
}
