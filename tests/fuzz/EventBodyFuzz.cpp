// The collector's event body, as anyone on the internet may post it.
#include "EventRules.h"
#include "FuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<EventRules::ParsedEvent> event = EventRules::parse(body);
    if (!event)
        return 0;
    FUZZ_CHECK(body.size() <= EventRules::bodyLimit);
    FUZZ_CHECK(event->siteUuid.size() == 36 && event->siteUuid == event->siteUuid.toUpper());
    FUZZ_CHECK(event->kind != EventKind::pageview || !event->page.isEmpty());
    return 0;
}
