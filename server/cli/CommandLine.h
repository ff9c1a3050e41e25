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

// What a command uses when its options do not say: the folders, and a database with its salt
// secret, which a system service takes from its settings file through the environment.
struct Defaults {
    QString dataFolder;
    QString runtimeFolder;
    QString database;  // when set, used instead of the data folder unless --data is given
    QString saltSecret;
};

// `arguments` without the program's name.
Command parse(const QStringList &arguments, const Defaults &defaults);

// From the environment: $ORVELA_SERVER_DATA, else $XDG_DATA_HOME/orvela-server or
// ~/.local/share/orvela-server; the runtime folder below; $ORVELA_SERVER_DATABASE and
// $ORVELA_SERVER_SALT_SECRET.
Defaults defaultsFromEnvironment();

QString defaultDataFolder();
// $RUNTIME_DIRECTORY (systemd's RuntimeDirectory=), or $XDG_RUNTIME_DIR, or none: folders on a
// tmpfs that is cleared at boot. Never the data folder, never /tmp.
QString defaultRuntimeFolder();

}  // namespace CommandLine
