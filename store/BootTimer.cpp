#include "BootTimer.h"

#include <QTimer>
#include <cmath>
#include <sys/timerfd.h>
#include <unistd.h>

BootTimer::BootTimer(QObject *parent) : QObject(parent)
{
    m_fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0)
        m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &BootTimer::onReadable);
    }
}

BootTimer::~BootTimer()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

std::pair<long long, long> BootTimer::split(double seconds)
{
    if (!(seconds > 0))
        return {0, 1};  // a zero it_value would disarm the timer
    const double whole = std::floor(seconds);
    long nanos = long(std::llround((seconds - whole) * 1e9));
    long long secs = (long long)whole;
    if (nanos >= 1000000000L) {
        secs += 1;
        nanos -= 1000000000L;
    }
    if (secs == 0 && nanos == 0)
        nanos = 1;
    return {secs, nanos};
}

void BootTimer::start(double seconds)
{
    m_fired = false;
    if (m_fd < 0) {
        QTimer::singleShot(int(std::max(0.0, seconds) * 1000), this, &BootTimer::fireNow);
        return;
    }
    const auto [secs, nanos] = split(seconds);
    itimerspec expiry{};
    expiry.it_value.tv_sec = secs;
    expiry.it_value.tv_nsec = nanos;
    ::timerfd_settime(m_fd, 0, &expiry, nullptr);
}

void BootTimer::fireNow()
{
    if (m_fired)
        return;
    m_fired = true;
    if (m_fd >= 0) {
        itimerspec disarm{};
        ::timerfd_settime(m_fd, 0, &disarm, nullptr);
    }
    emit fired();
}

void BootTimer::onReadable()
{
    std::uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations)
        return;
    fireNow();
}
