#pragma once

#include "net/DeviceConnection.h"
#include "net/SensorChannel.h"

// The channel of a sensor on a networked device. A master polls its device
// through its own connection; a follower reads the master's.
class CDeviceChannel : public CSensorChannel
{
public:
    static constexpr int kPollPeriodTicks = 600;

    explicit CDeviceChannel(const CSensor& sensor);

    void Start(IChannelStatusSink* sink) override;
    void Stop() override;
    const std::string& GetStatusText() override;
    bool GetValue(float& value, std::chrono::system_clock::time_point* readAt) override;

    CDeviceConnection m_connection;

private:
    // The connection whose readings this channel reports.
    const CDeviceConnection& Source() const;
};
