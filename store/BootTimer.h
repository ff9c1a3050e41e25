#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// A one-shot timer on CLOCK_BOOTTIME, the clock that keeps counting during suspend.
// QTimer and steady_clock stop while the machine sleeps.
class BootTimer : public QObject
{
    Q_OBJECT
public:
    explicit BootTimer(QObject *parent = nullptr);
    ~BootTimer() override;

    // Arms the timer `seconds` from now; a wait of 0 or less fires on the next event-loop pass.
    void start(double seconds);
    // Ends the wait now, as if it had expired (used for cancellation).
    void fireNow();

    // The itimerspec fields for a relative wait, split out so the arithmetic can be tested.
    static std::pair<long long, long> split(double seconds);

signals:
    void fired();

private:
    void onReadable();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_fired = false;
};
