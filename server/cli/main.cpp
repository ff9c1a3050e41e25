// orvela-server: the command line and the process around the HTTP service.
#include "CommandLine.h"
#include "DataFolderLock.h"
#include "GeoIp.h"
#include "HttpService.h"
#include "KeyFileSalts.h"
#include "PgStorage.h"
#include "RuntimeSalts.h"
#include "SqliteStorage.h"
#include "SystemService.h"
#include "TokenCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <pthread.h>
#include <sys/resource.h>

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

QString shownPath(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// PostgreSQL when a database is named, else SQLite in the folder.
std::unique_ptr<Storage> openStorage(const QString &folder, const QString &database)
{
    if (!database.isEmpty()) {
        try {
            return std::make_unique<PgStorage>(database);
        } catch (const StorageError &error) {
            print(stderr,
                  QStringLiteral("orvela-server: cannot use the database: %1\n")
                      .arg(QString::fromLocal8Bit(error.what())));
            return nullptr;
        }
    }
    try {
        return std::make_unique<SqliteStorage>(folder);
    } catch (const StorageError &error) {
        print(stderr,
              QStringLiteral("orvela-server: cannot use the data folder %1: %2\n")
                  .arg(shownPath(folder), QString::fromLocal8Bit(error.what())));
        return nullptr;
    }
}

void warn(const QString &message)
{
    print(stderr, QStringLiteral("orvela-server: %1\n").arg(message));
}

bool isWithin(const QString &path, const QString &folder)
{
    const QString inner = QFileInfo(path).canonicalFilePath();
    const QString outer = QFileInfo(folder).canonicalFilePath();
    return !inner.isEmpty() && !outer.isEmpty() && (inner == outer || inner.startsWith(outer + u'/'));
}

// The day's salts: in a file of the runtime folder, or in memory alone. Never in the data
// folder, which backups copy.
std::unique_ptr<DailySalts> openSalts(const QString &runtimeFolder, const QString &dataFolder, Storage &storage)
{
    if (runtimeFolder.isEmpty()) {
        warn(QStringLiteral("no runtime folder ($RUNTIME_DIRECTORY, $XDG_RUNTIME_DIR or --runtime-dir): the day's "
                            "salt is kept in memory only, so after a restart today's visitors are counted anew"));
        return std::make_unique<RuntimeSalts>(QString());
    }
    if (!QFileInfo::exists(runtimeFolder)) {
        if (!QDir().mkpath(runtimeFolder)) {
            warn(QStringLiteral("cannot create the runtime folder %1").arg(shownPath(runtimeFolder)));
            return nullptr;
        }
        QFile::setPermissions(runtimeFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (isWithin(runtimeFolder, dataFolder)) {
        warn(QStringLiteral("the runtime folder %1 is inside the data folder: the day's salt must stay out of it "
                            "and out of its backups")
                 .arg(shownPath(runtimeFolder)));
        return nullptr;
    }
    try {
        return std::make_unique<RuntimeSalts>(RuntimeSalts::fileIn(runtimeFolder, storage.instanceId()), warn);
    } catch (const StorageError &error) {
        warn(QString::fromLocal8Bit(error.what()));
        return nullptr;
    }
}

// Every open connection holds a descriptor: take all that the system lets this process have.
void raiseOpenFilesLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0 || limit.rlim_max != RLIM_INFINITY)
        return;
    // An unlimited hard limit still stops at fs.nr_open.
    QFile nrOpen(QStringLiteral("/proc/sys/fs/nr_open"));
    bool ok = false;
    const rlim_t most = nrOpen.open(QIODevice::ReadOnly) ? nrOpen.readAll().trimmed().toULongLong(&ok) : 0;
    if (ok) {
        limit.rlim_cur = most;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The salts from a key file that all servers of one database share; never one inside the
// data folder.
std::unique_ptr<DailySalts> openSaltSecret(const QString &file, const QString &dataFolder)
{
    if (!dataFolder.isEmpty() && isWithin(file, dataFolder)) {
        warn(QStringLiteral("the salt secret %1 is inside the data folder: it must stay out of it and out of its "
                            "backups")
                 .arg(shownPath(file)));
        return nullptr;
    }
    try {
        return std::make_unique<KeyFileSalts>(file, utcDay(systemClock()()), warn);
    } catch (const SaltSecretError &error) {
        warn(QStringLiteral("cannot use the salt secret %1: %2")
                 .arg(shownPath(file), QString::fromLocal8Bit(error.what())));
        return nullptr;
    }
}

int createSaltSecret(const CommandLine::SaltSecret &command)
{
    try {
        KeyFileSalts::create(command.file, utcDay(systemClock()()));
    } catch (const SaltSecretError &error) {
        warn(QStringLiteral("cannot create the salt secret %1: %2")
                 .arg(shownPath(command.file), QString::fromLocal8Bit(error.what())));
        return 1;
    }
    print(stderr,
          QStringLiteral("Made the salt secret %1, readable by you alone. Copy it, kept private, to every "
                         "server that shares the database before their first start, and start each with "
                         "--salt-secret FILE.\n")
              .arg(shownPath(command.file)));
    return 0;
}

int serve(const CommandLine::Serve &options)
{
    // A client that goes away shows as an error on its socket, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    raiseOpenFilesLimit();
    // SIGINT and SIGTERM are taken by one thread that stops the server; every other thread,
    // started after this, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::shared_ptr<GeoIp> geoIp;
    if (!options.geoIpFile.isEmpty()) {
        try {
            geoIp = std::make_shared<GeoIp>(options.geoIpFile);
        } catch (const std::exception &error) {
            print(stderr,
                  QStringLiteral("orvela-server: cannot read the country database %1: %2\n")
                      .arg(options.geoIpFile, QString::fromLocal8Bit(error.what())));
            return 1;
        }
    }
    // SQLite: one server per folder, and the lock comes before anything touches the database.
    // PostgreSQL: as many servers as share the database.
    const bool sqlite = options.database.isEmpty();
    std::optional<DataFolderLock> lock;
    if (sqlite) {
        if (!QDir().mkpath(options.dataFolder)) {
            print(stderr,
                  QStringLiteral("orvela-server: cannot use the data folder %1: cannot create the folder\n")
                      .arg(shownPath(options.dataFolder)));
            return 1;
        }
        lock.emplace(options.dataFolder);
        if (!lock->held()) {
            print(stderr, lock->problem());
            return 1;
        }
    }
    auto storage = openStorage(options.dataFolder, options.database);
    if (!storage)
        return 1;
    const auto salts = options.saltSecret.isEmpty()
        ? openSalts(options.runtimeFolder, options.dataFolder, *storage)
        : openSaltSecret(options.saltSecret, sqlite ? options.dataFolder : QString());
    if (!salts)
        return 1;

    HttpService::Options serviceOptions;
    serviceOptions.trustProxy = options.trustProxy;
    serviceOptions.retainDays = options.retainDays;
    HttpService service(*storage, *salts, systemClock(), serviceOptions, geoIp);
    const QString where =
        QString::fromStdString(options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host);
    int port = 0;
    try {
        port = service.bind(options.host, options.port);
    } catch (const ListenError &error) {
        print(stderr,
              QStringLiteral("orvela-server: cannot listen on %1:%2: %3\n")
                  .arg(where)
                  .arg(options.port)
                  .arg(QString::fromLocal8Bit(error.what())));
        return 1;
    }

    std::thread waiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        service.stop();
    });
    const auto *postgres = dynamic_cast<const PgStorage *>(storage.get());
    print(stdout,
          QStringLiteral("orvela-server: serving http://%1:%2/ with data in %3\n")
              .arg(where)
              .arg(port)
              .arg(postgres ? QStringLiteral("the PostgreSQL ") + postgres->description()
                            : shownPath(options.dataFolder)));
    service.run();
    // run() also returns when the listening socket fails; wake the waiter in that case too. The
    // signal is blocked everywhere, so it only ends the waiter's sigwait.
    pthread_kill(waiter.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
    waiter.join();
    return 0;
}

int run(const QStringList &arguments)
{
    if (arguments == QStringList{QStringLiteral("--version")}) {
        print(stdout, QStringLiteral("orvela-server %1\n").arg(QStringLiteral(ORVELA_VERSION)));
        return 0;
    }
    const auto adopted = SystemService::adoptServiceUser(arguments);
    if (!adopted.error.isEmpty()) {
        print(stderr, adopted.error);
        return 1;
    }
    const auto command = CommandLine::parse(adopted.arguments, CommandLine::defaultsFromEnvironment());
    if (const auto *help = std::get_if<CommandLine::Help>(&command)) {
        print(stdout, help->text);
        return 0;
    }
    if (const auto *mistake = std::get_if<CommandLine::Mistake>(&command)) {
        print(stderr, mistake->text);
        return 2;
    }
    if (const auto *serveCommand = std::get_if<CommandLine::Serve>(&command))
        return serve(*serveCommand);
    if (const auto *saltSecret = std::get_if<CommandLine::SaltSecret>(&command))
        return createSaltSecret(*saltSecret);

    const auto &token = std::get<CommandLine::Token>(command);
    auto storage = openStorage(token.dataFolder, token.database);
    if (!storage)
        return 1;
    const CommandOutput output = runTokenCommand(token, *storage, systemClock()());
    print(stdout, output.out);
    print(stderr, output.err);
    return output.status;
}

}  // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    try {
        return run(arguments);
    } catch (const std::exception &error) {
        // A database that fails under a token command, or anything unforeseen: said, not a crash.
        print(stderr, QStringLiteral("orvela-server: %1\n").arg(QString::fromLocal8Bit(error.what())));
        return 1;
    }
}
