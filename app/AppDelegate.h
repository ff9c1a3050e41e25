#pragma once

#include "MenuBarController.h"

#include <QObject>
#include <memory>

class AppStore;

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

    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    AppStore &store() { return *m_store; }
    MenuBarController *menuBar() { return m_menuBar.get(); }

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

private:
    std::unique_ptr<AppStore> m_store;
    std::unique_ptr<MenuBarController> m_menuBar;
};

// Saves the sync token handed in through ORVELA_SYNC_TOKEN, trimmed, when it is not blank;
// a keychain error is dropped. The variable is then removed from the environment, so that
// no program Orvela starts (the browser it opens) inherits the token.
void saveEnvironmentSyncToken(AppStore &store);
