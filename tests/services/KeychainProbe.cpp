// Runs keychain store calls in a process of its own, so that each run meets the session bus its
// environment names (libsecret and GDBus keep one bus connection per process).
//
//   KeychainProbe run TIMEOUT_MS PAUSE_MS OP...   OP: loadToken saveToken saveBlank loadCredentials
//                                                     saveCredentials deleteCredentials wait:MS
//       prints "OP OUTCOME ELAPSED_MS" per call; OUTCOME is none, value, ok, unreadable or status:CODE
//   KeychainProbe hold-name
//       owns the Secret Service's bus name, prints "held" and stops itself: a keyring that never answers

#include "KeychainStore.h"

#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

int holdName()
{
    GError *error = nullptr;
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        std::fprintf(stderr, "no bus: %s\n", error->message);
        return 1;
    }
    GVariant *reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        std::fprintf(stderr, "RequestName failed: %s\n", error->message);
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    // Stopped, this process owns the name but can never reply: every call to it waits.
    std::raise(SIGSTOP);
    return 0;
}

std::string outcome(const std::function<std::string()> &call)
{
    try {
        return call();
    } catch (const KeychainStoreError &error) {
        if (error.kind == KeychainStoreError::Kind::unreadable)
            return "unreadable";
        return "status:" + std::to_string(error.code);
    }
}

int run(int argc, char **argv)
{
    const std::chrono::milliseconds timeout(std::stoi(argv[2]));
    const std::chrono::milliseconds pause(std::stoi(argv[3]));
    KeychainStore store(QStringLiteral("orvela-probe"), timeout, pause);
    const QUuid website = QUuid::fromString(QStringLiteral("6B0F52A1-1C4D-4E0B-9A57-2F3C4D5E6F70"));

    for (int i = 4; i < argc; ++i) {
        const std::string op = argv[i];
        if (op.rfind("wait:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(op.substr(5))));
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        const std::string result = outcome([&]() -> std::string {
            if (op == "loadToken")
                return store.loadSyncToken() ? "value" : "none";
            if (op == "loadCredentials")
                return store.loadCredentials(website) ? "value" : "none";
            if (op == "saveToken")
                store.saveSyncToken(QStringLiteral("probe-token"));
            else if (op == "saveBlank")
                store.saveSyncToken(QStringLiteral(" "));
            else if (op == "saveCredentials")
                store.saveCredentials({{{QStringLiteral("key"), QStringLiteral("v")}}}, website);
            else if (op == "deleteCredentials")
                store.deleteCredentials(website);
            else
                return "unknown-op";
            return "ok";
        });
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::printf("%s %s %lld\n", op.c_str(), result.c_str(), static_cast<long long>(elapsed.count()));
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "hold-name") == 0)
        return holdName();
    if (argc >= 4 && std::strcmp(argv[1], "run") == 0)
        return run(argc, argv);
    std::fprintf(stderr, "usage: KeychainProbe run TIMEOUT_MS PAUSE_MS OP... | hold-name\n");
    return 2;
}
