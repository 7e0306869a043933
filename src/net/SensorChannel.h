#pragma once

#include "sensors/Sensor.h"

#include <chrono>
#include <string>

class IChannelStatusSink;

// The run-time side of one sensor while recording runs. It works on a copy of
// the sensor record taken at creation and sits in the global channel list
// from construction to destruction.
class CSensorChannel
{
public:
    explicit CSensorChannel(const CSensor& sensor);
    virtual ~CSensorChannel();
    CSensorChannel(const CSensorChannel&) = delete;
    CSensorChannel& operator=(const CSensorChannel&) = delete;

    virtual void Start(IChannelStatusSink* sink);
    virtual void Stop();
    // The text for the Status column; valid until the next call.
    virtual const std::string& GetStatusText();
    // True when the sensor's slot holds a valid reading. Fills value, and
    // readAt with the time of the last reply when it is not null.
    virtual bool GetValue(float& value, std::chrono::system_clock::time_point* readAt);

    CSensor m_sensor;
    CSensorChannel* m_pMaster = nullptr;
    CSensorChannel* m_pNextFollower = nullptr;
    int m_nSensorId = -1;
    int m_nMinutesLeft = 0;

protected:
    std::string m_strStatus;
};

// Links the channels of each device (host without regard to letter case, same
// port): the first enabled channel in configuration order polls as master,
// every other channel of that device follows it, inserted right behind the
// master. A device whose channels are all disabled gets no master.
void LinkChannels();
