#pragma once

#include "Choices.h"
#include "Website.h"

#include <QString>

// A website row's title: the trimmed display name, or the domain when the name is blank.
QString websiteRowTitle(const Website &website);

// Whether the row shows the domain under the title: only when the name says something else.
bool websiteRowShowsSubtitle(const Website &website);

// "This provider allows a refresh every 45 seconds." when the provider's minimum is longer
// than the chosen interval; empty otherwise.
QString refreshCaption(RefreshInterval chosen, double providerMinimumSeconds);
