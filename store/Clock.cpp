#include "Clock.h"

#include "BootTimer.h"

#include <QCoroSignal>
#include <QMetaObject>
#include <QPointer>

Instant SystemClock::now() const
{
    return Instant::now();
}

QCoro::Task<> SystemClock::sleep(double seconds, std::stop_token stop)
{
    if (stop.stop_requested())
        co_return;
    auto timer = std::make_unique<BootTimer>();
    QPointer<BootTimer> weak = timer.get();
    // A stop may be requested from inside another coroutine: end the wait on the next pass
    // of the event loop rather than resuming this one in the middle of that call.
    std::stop_callback onStop(stop, [weak] {
        if (weak)
            QMetaObject::invokeMethod(
                weak.data(),
                [weak] {
                    if (weak)
                        weak->fireNow();
                },
                Qt::QueuedConnection);
    });
    timer->start(seconds);
    co_await qCoro(timer.get(), &BootTimer::fired);
}
