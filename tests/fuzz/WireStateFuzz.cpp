// The account state as the service sends it: read, written back and read again unchanged.
#include "FuzzCheck.h"
#include "Json.h"
#include "WireState.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    WireState state;
    try {
        state = WireState::decode(bytes);
    } catch (const JsonError &) {
        return 0;
    }
    WireState again;
    try {
        again = WireState::decode(state.encode());
    } catch (const JsonError &) {
        FUZZ_CHECK(!"a decoded state encodes to one that reads back");
    }
    FUZZ_CHECK(again == state);
    if (const auto cloud = state.toCloudSyncState())
        FUZZ_CHECK(WireState::forUpload(*cloud).websites == state.websites);
    return 0;
}
