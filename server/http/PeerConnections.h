#pragma once

#include <array>
#include <boost/asio/ip/address.hpp>
#include <map>
#include <mutex>
#include <optional>

// How many connections each client address holds open, so that one client cannot take every
// descriptor. Loopback peers are not counted: behind a reverse proxy every connection comes
// from there, and the proxy does its own limiting.
class PeerConnections
{
    using Key = std::array<unsigned char, 16>;

public:
    // A place held while a connection is open; given back when destroyed.
    class Ticket
    {
    public:
        Ticket() = default;
        Ticket(Ticket &&other) noexcept;
        Ticket &operator=(Ticket &&other) noexcept;
        ~Ticket();

    private:
        friend class PeerConnections;
        Ticket(PeerConnections *owner, const Key &key) : m_owner(owner), m_key(key) {}

        PeerConnections *m_owner = nullptr;
        Key m_key{};
    };

    // `perPeer` 0: no limit.
    explicit PeerConnections(int perPeer) : m_perPeer(perPeer) {}

    // No value when the peer already holds its share.
    std::optional<Ticket> admit(const boost::asio::ip::address &peer);

private:
    void release(const Key &key);

    const int m_perPeer;
    std::mutex m_lock;
    std::map<Key, int> m_open;
};
