// The stored document as found on disk: whatever reads must write back to the same document,
// and its dates must survive what the pages and the wire do with them.
#include "FuzzCheck.h"
#include "PersistedState.h"

#include <cstdint>

namespace {

void checkDate(Instant instant)
{
    (void)instant.toDateTime();
    FUZZ_CHECK(Instant::fromIso8601(instant.toIso8601()).has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<PersistedState> state = PersistedState::decode(bytes);
    if (!state)
        return 0;
    FUZZ_CHECK(PersistedState::decode(state->encode()) == state);
    if (state->cloudUpdatedAt)
        checkDate(*state->cloudUpdatedAt);
    for (const StoredSnapshot &stored : state->snapshots) {
        checkDate(stored.snapshot.refreshedAt);
        for (const auto &hour : stored.snapshot.hourlyVisitors.value_or(QList<HourlyVisitorCount>{}))
            checkDate(hour.start);
        for (const auto &visitor : stored.snapshot.recentVisitors)
            checkDate(visitor.lastSeen);
    }
    return 0;
}
