#pragma once

#include <chrono>
#include <cstddef>

// What one client may ask of the service: how long a request may take, how much of it may be
// headers, and how many connections one address may hold open.
struct ConnectionLimits {
    using Duration = std::chrono::milliseconds;

    // Whole phases, not gaps between bytes, so that a trickle cannot keep a request alive.
    Duration headerTimeout{10'000};  // from a request's first byte to the end of its headers
    Duration bodyTimeout{10'000};    // from the end of the headers to the end of the body
    Duration idleTimeout{5'000};     // a kept-alive connection waiting for its next request
    Duration writeTimeout{10'000};   // for the client to take one answer

    std::size_t headerBytes = 16 * 1024;  // the request line and the headers together
    std::size_t headerFields = 100;
    int connectionsPerPeer = 64;  // from one address, or one IPv6 /64
};
