#pragma once

#include <QLoggingCategory>

// Orvela's log categories, "orvela.<part>". Their messages are the one-line notices on stderr
// that the README promises; QT_LOGGING_RULES can silence one ("orvela.keychain.warning=false").
Q_DECLARE_LOGGING_CATEGORY(lcKeychain)
Q_DECLARE_LOGGING_CATEGORY(lcAddress)

// Writes the messages of Orvela's categories as one line "orvela: <message>" on stderr, the
// form users and scripts know, and hands every other message to the handler before it.
// Once per process, before the first message.
void installMessageFormat();
