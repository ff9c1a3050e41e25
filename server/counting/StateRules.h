#pragma once

#include "Storage.h"
#include "WireState.h"

#include <QString>
#include <optional>

// What the service takes as an account state, beyond what the shared decoder checks.
namespace StateRules {

constexpr qsizetype websiteLimit = 1000;

// Why `state` is refused, in words for the 400 reply; no value when it may be stored.
std::optional<QString> problem(const WireState &state);

// The websites of a state as the storage takes them.
QList<ListedSite> listedSites(const WireState &state);

}  // namespace StateRules
