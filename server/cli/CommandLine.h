#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <variant>

// The command line of orvela-server, read without side effects so that it can be tested.
namespace CommandLine {

struct Serve {
    std::string host = "127.0.0.1";
    int port = 8787;
    QString dataFolder;
    QString database;       // a PostgreSQL connection; empty: SQLite in `dataFolder`
    QString saltSecret;     // the key file of the salts; empty: salts of this server alone
    QString runtimeFolder;  // empty: none, the day's salt stays in memory
    bool trustProxy = false;
    QString geoIpFile;
    int retainDays = 30;
};

struct Token {
    enum class Action { create, list, revoke, rotate };
    Action action = Action::create;
    QString prefix;
    QString dataFolder;
    QString database;  // as for Serve
};

// `salt-secret create FILE`.
struct SaltSecret {
    QString file;
};

// Text for stdout, exit status 0.
struct Help {
    QString text;
};

// Text for stderr, exit status 2.
struct Mistake {
    QString text;
};

using Command = std::variant<Serve, Token, SaltSecret, Help, Mistake>;

// `arguments` without the program's name; the defaults fill in a missing --data and
// --runtime-dir.
Command parse(const QStringList &arguments, const QString &defaultDataFolder,
              const QString &defaultRuntimeFolder = {});

// $XDG_DATA_HOME/orvela-server, or ~/.local/share/orvela-server.
QString defaultDataFolder();
// $RUNTIME_DIRECTORY (systemd's RuntimeDirectory=), or $XDG_RUNTIME_DIR, or none: folders on a
// tmpfs that is cleared at boot. Never the data folder, never /tmp.
QString defaultRuntimeFolder();

}  // namespace CommandLine
