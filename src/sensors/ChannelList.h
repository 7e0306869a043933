#pragma once

#include <list>

class CSensor;
class CSensorChannel;

// The global list of running sensor channels, newest at the head. It lives
// beside the sensor record so that a record can find the channel of its
// measuring point without depending on the device layer that defines channels.
class CChannelList
{
public:
    struct Entry
    {
        CSensorChannel* pChannel;
        const CSensor* pSettings; // the channel's own copy of the sensor
    };

    static void PushFront(CSensorChannel* channel, const CSensor* settings);
    static void Remove(CSensorChannel* channel);
    static bool Contains(const CSensorChannel* channel);
    // Head first.
    static const std::list<Entry>& Entries();
};
