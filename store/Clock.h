#pragma once

#include "Instant.h"

#include <QCoroTask>
#include <memory>
#include <stop_token>

// Where the store reads the time and waits. The real one keeps counting while the machine
// sleeps; tests substitute one they can move by hand.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    // Ends after `seconds`, or soon after a stop is requested; never throws.
    virtual QCoro::Task<> sleep(double seconds, std::stop_token stop) = 0;
};

// The wall clock for instants; waits on CLOCK_BOOTTIME so that a wait that expired during a
// suspend ends at once on wake.
class SystemClock final : public Clock
{
public:
    Instant now() const override;
    QCoro::Task<> sleep(double seconds, std::stop_token stop) override;
};
