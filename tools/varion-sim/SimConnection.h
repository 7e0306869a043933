#pragma once

#include "varion-sim/EventLoop.h"

#include <cstdint>
#include <optional>
#include <string>

class CSimDevice;

// One accepted client of a simulated device: reads the request, then behaves
// as the device's mode says. Never blocks; a client that stops reading or
// goes away only ends its own connection.
class CSimConnection : public CPollable
{
public:
    CSimConnection(CEventLoop& loop, CSimDevice& device, int fd);
    ~CSimConnection() override;
    CSimConnection(const CSimConnection&) = delete;
    CSimConnection& operator=(const CSimConnection&) = delete;

    void Start();
    void OnEvents(std::uint32_t events) override;

private:
    enum class EPhase
    {
        Request, // collecting the request
        Waiting, // the answer is due later
        Sending, // output left to write
        Holding  // nothing more to send; open until the client closes
    };

    void ReadRequest();
    void Answer();
    void Send(std::string bytes, bool closeAfter);
    void Flush();
    // Sends the next byte of the output and schedules the one after it.
    void Trickle();
    // Reads and drops whatever the client sends; false once it has closed.
    bool Discard();
    void Finish(bool abort = false);
    void UpdateWatch();

    CEventLoop& m_loop;
    CSimDevice& m_device;
    int m_nFd;
    EPhase m_phase = EPhase::Request;
    std::uint32_t m_nWatched = 0;
    bool m_bClientClosed = false;
    bool m_bCloseAfterSend = false;
    std::string m_strRequest;
    std::string m_strOutput;
    size_t m_nSent = 0;
    std::optional<CEventLoop::TimerId> m_timer;
};
