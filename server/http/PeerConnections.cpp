#include "PeerConnections.h"

#include <utility>

PeerConnections::Ticket::Ticket(Ticket &&other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr)),
      m_key(other.m_key)
{}

PeerConnections::Ticket &PeerConnections::Ticket::operator=(Ticket &&other) noexcept
{
    if (this != &other) {
        if (m_owner)
            m_owner->release(m_key);
        m_owner = std::exchange(other.m_owner, nullptr);
        m_key = other.m_key;
    }
    return *this;
}

PeerConnections::Ticket::~Ticket()
{
    if (m_owner)
        m_owner->release(m_key);
}

std::optional<PeerConnections::Ticket> PeerConnections::admit(const boost::asio::ip::address &peer)
{
    if (m_perPeer <= 0 || peer.is_loopback())
        return Ticket();
    // An IPv4 peer counts the same however the socket sees it; an IPv6 peer is usually given a
    // whole /64, any address of which it may use.
    const auto v6 =
        peer.is_v4() ? boost::asio::ip::make_address_v6(boost::asio::ip::v4_mapped, peer.to_v4()) : peer.to_v6();
    if (v6.is_v4_mapped() && v6.to_v4().is_loopback())
        return Ticket();
    Key key = v6.to_bytes();
    if (!v6.is_v4_mapped())
        std::fill(key.begin() + 8, key.end(), 0);
    std::lock_guard lock(m_lock);
    int &open = m_open[key];
    if (open >= m_perPeer)
        return std::nullopt;
    ++open;
    return Ticket(this, key);
}

void PeerConnections::release(const Key &key)
{
    std::lock_guard lock(m_lock);
    const auto found = m_open.find(key);
    if (found != m_open.end() && --found->second <= 0)
        m_open.erase(found);
}
