#include "Logging.h"

#include <cstdio>

Q_LOGGING_CATEGORY(lcKeychain, "orvela.keychain")
Q_LOGGING_CATEGORY(lcAddress, "orvela.address")

namespace {

QtMessageHandler previousHandler = nullptr;

void writeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && qstrncmp(context.category, "orvela.", 7) == 0 && type != QtFatalMsg) {
        std::fprintf(stderr, "orvela: %s\n", qPrintable(message));
        return;
    }
    previousHandler(type, context, message);
}

}  // namespace

void installMessageFormat()
{
    previousHandler = qInstallMessageHandler(writeMessage);
}
