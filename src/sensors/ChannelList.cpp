#include "sensors/ChannelList.h"

#include <unordered_map>

namespace
{

// The list, and where each channel sits in it: with ten thousand channels a
// search per status change or removal would cost more than the polling.
struct Channels
{
    std::list<CChannelList::Entry> list;
    std::unordered_map<const CSensorChannel*, std::list<CChannelList::Entry>::iterator> index;
};

Channels& Shared()
{
    static Channels channels;
    return channels;
}

} // namespace

void CChannelList::PushFront(CSensorChannel* channel, const CSensor* settings)
{
    Channels& channels = Shared();
    channels.list.push_front({channel, settings});
    channels.index[channel] = channels.list.begin();
}

void CChannelList::Remove(CSensorChannel* channel)
{
    Channels& channels = Shared();
    if (const auto found = channels.index.find(channel); found != channels.index.end())
    {
        channels.list.erase(found->second);
        channels.index.erase(found);
    }
}

bool CChannelList::Contains(const CSensorChannel* channel)
{
    return Shared().index.contains(channel);
}

const std::list<CChannelList::Entry>& CChannelList::Entries()
{
    return Shared().list;
}
