// What the road tests ask of the app's own code, from the command line:
//   orvela-road-helper snippet SITE-ID BASE-URL   the tracking snippet the app shows
//   orvela-road-helper state CONFIG-FILE          the app's saved state, as JSON
#include "PersistedState.h"
#include "TrackingSnippet.h"

#include <QCoreApplication>
#include <QSettings>
#include <QUrl>
#include <QUuid>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == u"snippet") {
        const QUuid site = QUuid::fromString(arguments[2]);
        if (site.isNull())
            return 2;
        std::printf("%s\n", qPrintable(trackingSnippet(site, QUrl(arguments[3]))));
        return 0;
    }
    if (arguments.size() == 3 && arguments[1] == u"state") {
        QSettings settings(arguments[2], QSettings::IniFormat);
        const QByteArray document = settings.value(QStringLiteral("orvela.state.v1")).toByteArray();
        // Only a document the app itself could read back counts.
        if (document.isEmpty() || !PersistedState::decode(document))
            return 1;
        std::printf("%s\n", document.constData());
        return 0;
    }
    std::fprintf(stderr, "usage: orvela-road-helper snippet SITE-ID BASE-URL | state CONFIG-FILE\n");
    return 2;
}
