#pragma once

#include <QObject>

class CSensorChannel;

// Receives the status changes of running channels. Calls arrive queued on the
// event loop, never from inside the connection that changed, and only for
// channels that still exist; they stop when the sink is destroyed.
class IChannelStatusSink
{
public:
    virtual ~IChannelStatusSink() = default;
    virtual void OnChannelStatus(CSensorChannel* channel) = 0;

    // Queued notifications live on this object, so they die with the sink.
    QObject* NotifyContext() { return &m_context; }

private:
    QObject m_context;
};
