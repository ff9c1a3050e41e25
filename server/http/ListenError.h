#pragma once

#include <stdexcept>

// Why the service cannot listen where it was asked to, in words for the command line.
struct ListenError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
