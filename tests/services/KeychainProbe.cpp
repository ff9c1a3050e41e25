// Runs keychain store calls in a process of its own, so that each run meets the session bus its
// environment names (libsecret and GDBus keep one bus connection per process).
//
//   KeychainProbe run TIMEOUT_MS PAUSE_MS OP...   OP: loadToken saveToken saveBlank loadCredentials
//                                                     saveCredentials deleteCredentials wait:MS
//       prints "OP OUTCOME ELAPSED_MS" per call; OUTCOME is none, value, ok, unreadable or status:CODE
//   KeychainProbe hold-name
//       owns the Secret Service's bus name, prints "held" and stops itself: a keyring that never answers

#include "KeychainStore.h"
#include "Logging.h"

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

namespace {

int holdName()
{
    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr ||
        !g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "RequestName",
                                     g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */),
                                     G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error)) {
        std::fprintf(stderr, "cannot own the name: %s\n", error->message);
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    // Stopped, this process owns the name but can never reply: every call to it waits.
    std::raise(SIGSTOP);
    return 0;
}

std::string call(KeychainStore &store, const std::string &op)
{
    const QUuid website = QUuid::fromString(QStringLiteral("6B0F52A1-1C4D-4E0B-9A57-2F3C4D5E6F70"));
    try {
        if (op == "loadToken")
            return store.loadSyncToken() ? "value" : "none";
        if (op == "loadCredentials")
            return store.loadCredentials(website) ? "value" : "none";
        if (op == "saveToken" || op == "saveBlank")
            store.saveSyncToken(op == "saveToken" ? QStringLiteral("probe-token") : QStringLiteral(" "));
        else if (op == "saveCredentials")
            store.saveCredentials({{{QStringLiteral("key"), QStringLiteral("v")}}}, website);
        else if (op == "deleteCredentials")
            store.deleteCredentials(website);
        else
            return "unknown-op";
        return "ok";
    } catch (const KeychainStoreError &error) {
        return error.kind == KeychainStoreError::Kind::unreadable ? "unreadable"
                                                                  : "status:" + std::to_string(error.code);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    installMessageFormat();
    if (argc == 2 && std::string(argv[1]) == "hold-name")
        return holdName();
    if (argc < 4 || std::string(argv[1]) != "run") {
        std::fprintf(stderr, "usage: KeychainProbe run TIMEOUT_MS PAUSE_MS OP... | hold-name\n");
        return 2;
    }
    KeychainStore store(QStringLiteral("orvela-probe"), std::chrono::milliseconds(std::stoi(argv[2])),
                        std::chrono::milliseconds(std::stoi(argv[3])));
    for (int i = 4; i < argc; ++i) {
        const std::string op = argv[i];
        if (op.starts_with("wait:")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(op.substr(5))));
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        const std::string outcome = call(store, op);
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("%s %s %lld\n", op.c_str(), outcome.c_str(), static_cast<long long>(elapsed.count()));
        std::fflush(stdout);
    }
    return 0;
}
