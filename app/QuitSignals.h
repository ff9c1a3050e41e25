#pragma once

class QObject;

// SIGINT and SIGTERM end Orvela the way "Quit Orvela" does: the handler only writes a byte
// to a pipe, and the event loop, seeing it, calls QCoreApplication::quit().
void quitOnTerminationSignals(QObject *parent);
