#pragma once

#include "AnalyticsSnapshot.h"
#include "Instant.h"

#include <QString>
#include <cstdint>

// The example website that a new user sees: recognised by its domain, answered locally.
namespace ExampleWebsite {

inline constexpr char16_t domain[] = u"example.com";
inline constexpr char16_t displayName[] = u"Example";

bool isExampleDomain(const QString &domain);

// The 64-bit linear congruential generator behind the demo figures.
struct Generator {
    std::uint64_t state;
    std::uint64_t next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state;
    }
};

// Start of the local day that contains `now`, in whole Unix seconds, as the generator's seed.
std::uint64_t seed(Instant now);

// Demo figures: the same all day long in the local time zone, different the next day.
AnalyticsSnapshot exampleSnapshot(Instant now);

}  // namespace ExampleWebsite
