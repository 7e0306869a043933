#include "sensors/ChannelList.h"

namespace
{

std::list<CChannelList::Entry>& Channels()
{
    static std::list<CChannelList::Entry> channels;
    return channels;
}

} // namespace

void CChannelList::PushFront(CSensorChannel* channel, const CSensor* settings)
{
    Channels().push_front({channel, settings});
}

void CChannelList::Remove(CSensorChannel* channel)
{
    Channels().remove_if([channel](const Entry& entry) { return entry.pChannel == channel; });
}

const std::list<CChannelList::Entry>& CChannelList::Entries()
{
    return Channels();
}
