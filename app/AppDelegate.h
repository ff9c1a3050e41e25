#pragma once

#include "MenuBarController.h"

#include <QObject>
#include <QVariantMap>
#include <memory>
#include <optional>

class AppStore;

// What a launch was started with: ORVELA_BASE_URL and ORVELA_SYNC_TOKEN, as given.
struct LaunchValues {
    std::optional<QString> baseURL;
    std::optional<QString> syncToken;

    // Reads both variables and removes the token's from the environment, so that no program
    // Orvela starts (a bus, the browser it opens) inherits it.
    static LaunchValues takeFromEnvironment();
    // The form handed to the running instance, and back.
    QVariantMap toMap() const;
    static LaunchValues fromMap(const QVariantMap &values);
};

// Applies what a launch was started with: a usable address is used and remembered (another
// one is ignored with one line on stderr) and a token that is not blank is saved, trimmed,
// both at once; a keychain error is dropped and then changes nothing. The token is never printed.
void applyLaunchValues(AppStore &store, const LaunchValues &values);

// Builds Orvela's objects once, in order: the stats client over the keychain's sync token,
// the one AppStore (which starts polling and syncing at once), and, when the event loop
// runs, the tray icon and its panel.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    // The keychain service name of every secret Orvela keeps. There is no bundle to ask.
    static constexpr char bundleID[] = "orvela";
    static constexpr char syncTokenVariable[] = "ORVELA_SYNC_TOKEN";

    // `launch`: what this process was started with. Its address is already the process's.
    explicit AppDelegate(LaunchValues launch = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    AppStore &store() { return *m_store; }
    MenuBarController *menuBar() { return m_menuBar.get(); }

    // Shows the icon; then, once the keyring has been read off the main thread, saves the
    // launch's token, so that no keyring call on this thread holds up the icon.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // A later launch handed over what it was started with and asks for the panel.
    void handOver(const LaunchValues &values);

private:
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<MenuBarController> m_menuBar;
    LaunchValues m_launch;
};
