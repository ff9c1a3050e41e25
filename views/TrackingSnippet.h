#pragma once

#include <QString>
#include <QUrl>
#include <QUuid>

// The script element a site pastes into its pages' head:
// <script defer src="BASE/script.js" data-site="lower-case-id"></script>
QString trackingSnippet(const QUuid &siteID, const QUrl &baseURL);
