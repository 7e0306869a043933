#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "net/AsyncConnection.h"
#include "net/ChannelStatusSink.h"
#include "net/DeviceChannel.h"

#include <QCoreApplication>
#include <QTimer>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace
{

constexpr int kTickMilliseconds = 100;

std::optional<double> ReadSeconds(const std::string& text)
{
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    // Up to a year; beyond that the timer's millisecond count would overflow.
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value) || value <= 0 || value > 365.0 * 24 * 3600)
        return std::nullopt;
    return value;
}

std::string Tenths(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                      std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

// Prints what a channel of sensor 0 would show, and each reply's slots.
class PollPrinter : public IChannelStatusSink
{
public:
    PollPrinter(CDeviceChannel& channel, int replies) : m_channel(channel), m_nWanted(replies) {}

    void OnChannelStatus(CSensorChannel*) override
    {
        const CDeviceConnection& connection = m_channel.m_connection;
        const std::string& text = m_channel.GetStatusText();
        if (connection.State() != m_nLastState || text != m_strLastText)
        {
            m_nLastState = connection.State();
            m_strLastText = text;
            std::printf("state\t%d\t%s\n", m_nLastState, text.c_str());
        }
        if (connection.Replies() != m_nSeenReplies)
        {
            m_nSeenReplies = connection.Replies();
            for (int slot = 0; slot < connection.SlotsInLastReply(); ++slot)
                std::printf("reply\t%d\t%s\t%d\n", slot, Tenths(connection.Value(slot)).c_str(),
                            connection.NoValue(slot) ? 0 : 1);
        }
        std::fflush(stdout);
        if (m_nSeenReplies >= m_nWanted)
            QCoreApplication::exit(0);
    }

private:
    CDeviceChannel& m_channel;
    int m_nWanted;
    int m_nLastState = -1;
    std::string m_strLastText;
    int m_nSeenReplies = 0;
};

} // namespace

int RunPoll(CliArgs args)
{
    if (args.size() < 2)
        return UsageError("poll");
    const std::optional<long> port = ReadWholeNumber(args[1], 1, 65535);
    if (!port)
    {
        CliReport(CliLevel::Error, "tessaro-cli: poll: bad port '%s'", args[1].c_str());
        return 2;
    }
    long replies = 1;
    double seconds = 15;
    for (size_t i = 2; i < args.size(); i += 2)
    {
        if (i + 1 >= args.size())
            return UsageError("poll");
        if (args[i] == "--count")
        {
            const std::optional<long> count = ReadWholeNumber(args[i + 1], 1, 1000000);
            if (!count)
            {
                CliReport(CliLevel::Error, "tessaro-cli: poll: bad count '%s'",
                          args[i + 1].c_str());
                return 2;
            }
            replies = *count;
        }
        else if (args[i] == "--timeout")
        {
            const std::optional<double> timeout = ReadSeconds(args[i + 1]);
            if (!timeout)
            {
                CliReport(CliLevel::Error, "tessaro-cli: poll: bad timeout '%s'",
                          args[i + 1].c_str());
                return 2;
            }
            seconds = *timeout;
        }
        else
            return UsageError("poll");
    }

    static int argc = 1;
    static char name[] = "tessaro-cli";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    // Sensor 0 with an empty unit, so that the status shows the bare value.
    CSensor sensor;
    sensor.m_strAddress = args[0];
    sensor.m_nPort = static_cast<std::uint16_t>(*port);
    CDeviceChannel channel(sensor);
    PollPrinter printer(channel, static_cast<int>(replies));

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [] { CAsyncConnection::DispatchSocketMessage(CSocketMessage{}); });
    tick.start(kTickMilliseconds);
    QTimer::singleShot(static_cast<int>(std::lround(seconds * 1000)), &application,
                       [seconds]
                       {
                           CliReport(CliLevel::Error, "tessaro-cli: poll: no reply within %g s",
                                     seconds);
                           QCoreApplication::exit(1);
                       });
    channel.Start(&printer);
    const int status = application.exec();
    channel.Stop();
    return FlushStdout() ? status : 1;
}
