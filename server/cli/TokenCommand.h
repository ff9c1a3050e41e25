#pragma once

#include "CommandLine.h"
#include "Storage.h"

// `token create`, `token list`, `token rotate` and `token revoke`: what to print on stdout and
// stderr, and the exit status.
struct CommandOutput {
    QString out;
    QString err;
    int status = 0;
};

CommandOutput runTokenCommand(const CommandLine::Token &command, Storage &storage, qint64 now);
