#include "KeychainStore.h"

#include "Json.h"
#include "Logging.h"
#include "SessionBus.h"

#include <QStringDecoder>
#include <QStringEncoder>

// GLib names a struct field `signals`, which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Items are found by `service` and `account` alone, whatever schema name wrote them.
const SecretSchema secretSchema = {
    "orvela.Secret",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

// The keyring is one per session, so its silence is remembered for the whole process: every
// store instance then fails fast instead of freezing the app once more.
std::atomic<Clock::rep> keyringQuietUntil{0};
// A locked keyring whose unlock was refused: reads fail as unreadable until then.
std::atomic<Clock::rep> lockedUntil{0};
std::atomic_bool unavailableNoticeShown{false};
std::atomic_bool timeoutNoticeShown{false};
std::atomic_bool lockedNoticeShown{false};
std::atomic<SecretStoreReach> lastReach{SecretStoreReach::reachable};

bool keyringPaused()
{
    return Clock::now().time_since_epoch().count() < keyringQuietUntil.load();
}

void pauseKeyring(std::chrono::milliseconds pause)
{
    keyringQuietUntil = (Clock::now() + pause).time_since_epoch().count();
}

bool readsPausedByLock()
{
    return Clock::now().time_since_epoch().count() < lockedUntil.load();
}

void warnOnce(std::atomic_bool &shown, const QString &line)
{
    if (!shown.exchange(true))
        qCWarning(lcKeychain).noquote() << line;
}

bool isMissingProvider(const GError *error)
{
    if (error->domain != G_DBUS_ERROR)
        return false;
    switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_FORK_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
    case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
    case G_DBUS_ERROR_SPAWN_FAILED:
    case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND: return true;
    default: return false;
    }
}

// Every failure that reaches libsecret from below D-Bus (connecting, spawning an autolaunched
// bus) means the session bus itself is missing.
bool isMissingBus(const GError *error)
{
    return error->domain == G_IO_ERROR || error->domain == G_SPAWN_ERROR;
}

void reportMissingBus()
{
    lastReach = SecretStoreReach::noSessionBus;
    warnOnce(unavailableNoticeShown,
             QStringLiteral("no D-Bus session bus to reach a Secret Service (DBUS_SESSION_BUS_ADDRESS "
                            "unset or unreachable), so no secret can be kept; start Orvela inside a desktop session"));
}

void reportUnavailable(const GError *error)
{
    if (isMissingProvider(error)) {
        lastReach = SecretStoreReach::noSecretService;
        warnOnce(unavailableNoticeShown,
                 QStringLiteral("no Secret Service provider on the session bus, so no secret can be kept; "
                                "install and start gnome-keyring or KeePassXC's Secret Service"));
    } else if (isMissingBus(error)) {
        reportMissingBus();
    }
}

// Runs one synchronous libsecret call. The call spins a GLib loop of its own, so nothing on this
// thread can interrupt it: a watchdog thread cancels it once `timeout` has passed.
template<typename Call>
auto boundedCall(std::chrono::milliseconds timeout, std::chrono::milliseconds pause, Call call)
{
    if (keyringPaused())
        throw KeychainStoreError::status(G_IO_ERROR_TIMED_OUT);
    if (sessionBusMissing()) {
        reportMissingBus();
        throw KeychainStoreError::status(G_IO_ERROR_NOT_CONNECTED);
    }

    GCancellable *cancellable = g_cancellable_new();
    std::atomic_bool timedOut{false};
    GError *error = nullptr;
    decltype(call(cancellable, &error)) result{};
    {
        std::jthread watchdog([&](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, timeout, [] { return false; });
            if (!stop.stop_requested()) {
                timedOut = true;
                g_cancellable_cancel(cancellable);
            }
        });
        result = call(cancellable, &error);
    }
    g_object_unref(cancellable);

    if (error == nullptr) {
        lastReach = SecretStoreReach::reachable;
        return result;
    }
    const std::int32_t code = error->code;
    // A call that outlived the bound failed because the keyring was silent, whatever error the
    // cancellation surfaced as; so did one that met D-Bus's own reply time-out first.
    if (timedOut || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
        g_error_free(error);
        pauseKeyring(pause);
        warnOnce(timeoutNoticeShown,
                 QStringLiteral("the Secret Service did not answer within %1 ms; "
                                "not asking it again for %2 s")
                     .arg(timeout.count())
                     .arg(std::chrono::duration_cast<std::chrono::seconds>(pause).count()));
        throw KeychainStoreError::status(G_IO_ERROR_TIMED_OUT);
    }
    reportUnavailable(error);
    g_error_free(error);
    throw KeychainStoreError::status(code);
}

// What one read found: the secret, none at all, or only items the keyring would not unlock.
struct ItemRead {
    std::optional<QByteArray> bytes;
    bool locked = false;
};

QString websiteAccount(const QUuid &websiteID)
{
    return QStringLiteral("website.") + Json::uuidText(websiteID);
}

}  // namespace

KeychainStore::KeychainStore(QString service, std::chrono::milliseconds callTimeout,
                             std::chrono::milliseconds pauseAfterTimeout)
    : m_service(std::move(service)),
      m_callTimeout(callTimeout),
      m_pauseAfterTimeout(pauseAfterTimeout)
{}

std::optional<QString> KeychainStore::loadSyncToken()
{
    const auto bytes = readItem(QString::fromLatin1(syncTokenAccount));
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString token = QString(decoder(*bytes)).trimmed();
    if (decoder.hasError() || token.isEmpty())
        throw KeychainStoreError::unreadable();
    return token;
}

void KeychainStore::saveSyncToken(const QString &token)
{
    const QString trimmed = token.trimmed();
    if (trimmed.isEmpty()) {
        deleteItem(QString::fromLatin1(syncTokenAccount));
        return;
    }
    // A lone surrogate has no UTF-8 form; storing a substitute would store another token.
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    const QByteArray bytes = encoder(trimmed);
    if (encoder.hasError())
        throw KeychainStoreError::unreadable();
    writeItem(bytes, QString::fromLatin1(syncTokenAccount), QStringLiteral("Orvela sync token"));
}

std::optional<ProviderCredentials> KeychainStore::loadCredentials(const QUuid &websiteID)
{
    const auto bytes = readItem(websiteAccount(websiteID));
    if (!bytes)
        return std::nullopt;
    try {
        return ProviderCredentials::fromJson(Json::parseObject(*bytes));
    } catch (const JsonError &) {
        throw KeychainStoreError::unreadable();
    }
}

void KeychainStore::saveCredentials(const ProviderCredentials &credentials, const QUuid &websiteID)
{
    writeItem(Json::compact(credentials.toJson()), websiteAccount(websiteID),
              QStringLiteral("Orvela credentials of website %1").arg(Json::uuidText(websiteID)));
}

void KeychainStore::deleteCredentials(const QUuid &websiteID)
{
    deleteItem(websiteAccount(websiteID));
}

SecretStoreReach KeychainStore::reach() const
{
    return lastReach.load();
}

std::optional<QByteArray> KeychainStore::readItem(const QString &account) const
{
    if (readsPausedByLock())
        throw KeychainStoreError::unreadable();
    const QByteArray service = m_service.toUtf8();
    const QByteArray accountName = account.toUtf8();
    // A plain lookup cannot tell a locked item whose unlock was refused from no item at all:
    // both come back empty, without an error. A search returns locked items too, and says so.
    const ItemRead read =
        boundedCall(m_callTimeout, m_pauseAfterTimeout, [&](GCancellable *cancellable, GError **error) {
            ItemRead outcome;
            GHashTable *attributes = secret_attributes_build(&secretSchema, "service", service.constData(), "account",
                                                             accountName.constData(), nullptr);
            GList *items =
                secret_service_search_sync(nullptr, &secretSchema, attributes, SECRET_SEARCH_ALL, cancellable, error);
            g_hash_table_unref(attributes);
            GList *locked = nullptr;
            SecretItem *readable = nullptr;
            for (GList *entry = items; entry != nullptr; entry = entry->next) {
                auto *item = SECRET_ITEM(entry->data);
                if (!secret_item_get_locked(item))
                    readable = readable ? readable : item;
                else
                    locked = g_list_append(locked, item);
            }
            if (readable == nullptr && locked != nullptr) {
                outcome.locked = true;
                GList *unlocked = nullptr;
                if (secret_service_unlock_sync(nullptr, locked, cancellable, &unlocked, error) > 0 &&
                    unlocked != nullptr) {
                    outcome.locked = false;
                    readable = SECRET_ITEM(locked->data);
                }
                g_list_free_full(unlocked, g_object_unref);
            }
            if (readable != nullptr && (*error == nullptr) &&
                secret_item_load_secret_sync(readable, cancellable, error)) {
                if (SecretValue *value = secret_item_get_secret(readable)) {
                    gsize length = 0;
                    const gchar *data = secret_value_get(value, &length);
                    outcome.bytes = QByteArray(data, qsizetype(length));
                    secret_value_unref(value);
                } else {
                    outcome.locked = true;  // loaded, yet no secret: the keyring kept it to itself
                }
            }
            g_list_free(locked);
            g_list_free_full(items, g_object_unref);
            return outcome;
        });
    if (read.locked) {
        lockedUntil = (Clock::now() + m_pauseAfterTimeout).time_since_epoch().count();
        warnOnce(lockedNoticeShown,
                 QStringLiteral("the keyring is locked and was not unlocked; not asking it again for "
                                "%1 s (unlock it from the desktop)")
                     .arg(std::chrono::duration_cast<std::chrono::seconds>(m_pauseAfterTimeout).count()));
        throw KeychainStoreError::unreadable();
    }
    return read.bytes;
}

void KeychainStore::writeItem(const QByteArray &bytes, const QString &account, const QString &label) const
{
    const QByteArray service = m_service.toUtf8();
    const QByteArray accountName = account.toUtf8();
    const QByteArray labelText = label.toUtf8();
    SecretValue *value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    try {
        // The Secret Service replaces an item with the same attributes, so this updates or adds.
        boundedCall(m_callTimeout, m_pauseAfterTimeout, [&](GCancellable *cancellable, GError **error) {
            return secret_password_store_binary_sync(&secretSchema, SECRET_COLLECTION_DEFAULT, labelText.constData(),
                                                     value, cancellable, error, "service", service.constData(),
                                                     "account", accountName.constData(), nullptr);
        });
    } catch (...) {
        secret_value_unref(value);
        throw;
    }
    secret_value_unref(value);
}

void KeychainStore::deleteItem(const QString &account) const
{
    const QByteArray service = m_service.toUtf8();
    const QByteArray accountName = account.toUtf8();
    // FALSE without an error means there was nothing to delete, which is fine.
    boundedCall(m_callTimeout, m_pauseAfterTimeout, [&](GCancellable *cancellable, GError **error) {
        return secret_password_clear_sync(&secretSchema, cancellable, error, "service", service.constData(), "account",
                                          accountName.constData(), nullptr);
    });
}
