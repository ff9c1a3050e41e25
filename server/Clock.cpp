#include "Clock.h"

#include <ctime>

Clock systemClock()
{
    return [] { return qint64(std::time(nullptr)); };
}
