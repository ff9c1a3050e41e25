#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AppStore;
class MenuBarController;

// For the end-to-end tests (ORVELA_TEST_REPORT): what X cannot tell about the icon and the
// panel (the title, the tooltip, the panel's geometry, where its named controls are on the
// screen, the sync's sentence) is written to a JSON file after each change.
class TestReport : public QObject
{
    Q_OBJECT
public:
    static constexpr char pathVariable[] = "ORVELA_TEST_REPORT";

    // Both must outlive the report.
    TestReport(QString path, AppStore &store, MenuBarController &menuBar, QObject *parent = nullptr);

    void write() const;

private:
    void schedule();
    void watchPanel();

    QString m_path;
    AppStore &m_store;
    MenuBarController &m_menuBar;
    bool m_pending = false;
    bool m_watchingPanel = false;
};
