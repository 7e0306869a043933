#include "net/SensorChannel.h"

#include "sensors/ChannelList.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

CSensorChannel::CSensorChannel(const CSensor& sensor) : m_sensor(sensor)
{
    CChannelList::PushFront(this, &m_sensor);
}

CSensorChannel::~CSensorChannel()
{
    CChannelList::Remove(this);
}

void CSensorChannel::Start(IChannelStatusSink*) {}

void CSensorChannel::Stop() {}

const std::string& CSensorChannel::GetStatusText()
{
    m_strStatus = "Server";
    return m_strStatus;
}

bool CSensorChannel::GetValue(float&, std::chrono::system_clock::time_point*)
{
    return false;
}

namespace
{

void Follow(CSensorChannel* follower, CSensorChannel* master)
{
    follower->m_pMaster = master;
    follower->m_pNextFollower = master->m_pNextFollower;
    master->m_pNextFollower = follower;
}

std::pair<std::string, std::uint16_t> DeviceKey(const CSensor& sensor)
{
    std::string host = sensor.m_strAddress;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return {std::move(host), sensor.m_nPort};
}

} // namespace

void LinkChannels()
{
    struct Device
    {
        CSensorChannel* master = nullptr;
        std::vector<CSensorChannel*> waiting; // disabled channels before the master
    };
    std::map<std::pair<std::string, std::uint16_t>, Device> devices;
    const auto& entries = CChannelList::Entries();
    for (const CChannelList::Entry& entry : entries)
    {
        entry.pChannel->m_pMaster = nullptr;
        entry.pChannel->m_pNextFollower = nullptr;
    }
    // The list holds the newest channel first, so configuration order is backwards.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    {
        CSensorChannel* channel = it->pChannel;
        Device& device = devices[DeviceKey(channel->m_sensor)];
        if (device.master != nullptr)
            Follow(channel, device.master);
        else if (channel->m_sensor.m_bDisabled)
            device.waiting.push_back(channel);
        else
        {
            device.master = channel;
            for (CSensorChannel* disabled : device.waiting)
                Follow(disabled, channel);
            device.waiting.clear();
        }
    }
}
