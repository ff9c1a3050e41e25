#include "SessionBus.h"

#include <QFileInfo>
#include <QString>

namespace {

// GLib and libdbus both refuse this address straight away, as a transport they do not know.
constexpr char deadAddress[] = "disabled:";

}  // namespace

bool sessionBusMissing()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address == deadAddress;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

void preventSessionBusAutolaunch()
{
    if (sessionBusMissing())
        qputenv("DBUS_SESSION_BUS_ADDRESS", deadAddress);
}
