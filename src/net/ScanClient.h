#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

// One query of one device during the network scan, on a non-blocking socket.
class CScanClient
{
public:
    enum State
    {
        NotStarted,
        Connecting,
        RequestSent,
        Finished
    };
    static constexpr int kMaxReply = 255;

    // address in network byte order
    CScanClient(std::uint32_t address, std::uint16_t port);
    ~CScanClient();
    CScanClient(CScanClient&& other) noexcept;
    CScanClient& operator=(CScanClient&& other) noexcept;
    CScanClient(const CScanClient&) = delete;
    CScanClient& operator=(const CScanClient&) = delete;

    // Opens the socket and starts connecting. Without a socket the client
    // stays not started, and the next cycle tries again.
    void Start();
    void SendRequest();
    // True when bytes arrived. At the device's close, or when the buffer is
    // full, the client is finished and keeps what it has.
    bool Receive();
    void CloseSocket();

    bool m_bGotData = false;
    State m_nState = NotStarted;
    int m_nSocket = -1;
    std::uint32_t m_nAddress;
    std::uint16_t m_nPort;
    int m_nReceived = 0;
    std::array<char, kMaxReply + 1> m_szReply{};
    // When Start() began connecting: the device's query deadline counts from here.
    std::chrono::steady_clock::time_point m_tConnectStart;
};

// One cycle over the active clients: waits at most 100 ms for any of them,
// moves each on, then starts those not started yet. True when any client
// received bytes.
bool PollScanClients(std::span<CScanClient> clients);

// Closes client index and fills its place with the last client.
void RemoveScanClient(std::vector<CScanClient>& clients, size_t index);
