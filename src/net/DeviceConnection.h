#pragma once

#include "net/AsyncConnection.h"

#include <array>
#include <chrono>

// Polls one device: sends the request, collects the one-line reply until the
// device closes, keeps the readings of slots 0 to 7 and polls again after the
// poll period.
class CDeviceConnection : public CAsyncConnection
{
public:
    static constexpr int kSlots = 8;
    static constexpr int kReplySize = 200; // holds at most 199 bytes and a NUL

    CDeviceConnection(std::string host, std::uint16_t port, int pollPeriodTicks);

    bool GotAny() const { return m_bGotAny; }
    // Slots outside 0..7 have never had a value.
    bool HasValue(int slot) const { return IsSlot(slot) && m_bHasValue[slot]; }
    bool NoValue(int slot) const { return !IsSlot(slot) || m_bNoValue[slot]; }
    float Value(int slot) const { return IsSlot(slot) ? m_values[slot] : 0.0f; }
    std::chrono::system_clock::time_point ReadAt() const { return m_readAt; }
    std::chrono::system_clock::time_point StartTime() const { return m_startTime; }
    int Received() const { return m_nReceived; }
    // Replies parsed since construction, and how many slots the last one reached.
    int Replies() const { return m_nReplies; }
    int SlotsInLastReply() const { return m_nSlotsInLastReply; }

protected:
    std::int64_t NextOwnTick() const override;
    void Connect() override;
    void OnConnect(int error) override;
    void OnClose(int error) override;
    void OnReceive() override;
    void OnSend() override;
    void OnTick() override;

private:
    static bool IsSlot(int slot) { return slot >= 0 && slot < kSlots; }
    void ParseReply();

    std::chrono::system_clock::time_point m_startTime;
    std::chrono::system_clock::time_point m_readAt;
    std::array<float, kSlots> m_values{};
    std::array<bool, kSlots> m_bHasValue{};
    std::array<bool, kSlots> m_bNoValue{};
    bool m_bGotAny = false;
    int m_nPollPeriodTicks;
    // The tick at which the reply time-out runs out while connected.
    std::int64_t m_nReplyDueTick = 0;
    int m_nReceived = 0;
    int m_nReplies = 0;
    int m_nSlotsInLastReply = 0;
    std::array<char, kReplySize> m_reply{};
};
