#pragma once

#include "varion-sim/Endpoint.h"
#include "varion-sim/EventLoop.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Answers the one-byte UDP discovery datagram "?" with a fixed list of
// datagrams, sent back to the asker.
class CDiscoveryResponder : public CPollable
{
public:
    CDiscoveryResponder(CEventLoop& loop, const CEndpoint& bindTo,
                        std::vector<std::string> answers);
    ~CDiscoveryResponder() override;
    CDiscoveryResponder(const CDiscoveryResponder&) = delete;
    CDiscoveryResponder& operator=(const CDiscoveryResponder&) = delete;

    // On failure returns false and says why in error.
    bool Open(std::string& error);
    const CEndpoint& Endpoint() const { return m_endpoint; }

    // The answer announcing one device: 62 bytes, bytes 6 to 9 the address
    // with its octets reversed.
    static std::string Announcement(std::uint32_t address);

    void OnEvents(std::uint32_t events) override;

private:
    struct Pending
    {
        sockaddr_in to;
        size_t answer;
    };

    void ReadQuery();
    void SendPending();

    CEventLoop& m_loop;
    CEndpoint m_endpoint;
    std::vector<std::string> m_answers;
    int m_nFd = -1;
    bool m_bWaitingToSend = false;
    std::deque<Pending> m_pending;
};
