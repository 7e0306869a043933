#include "app/SessionSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_pipe[2] = {-1, -1};

void OnSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

CSessionSignals::CSessionSignals(std::function<void()> onSignal) : m_onSignal(std::move(onSignal))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_pNotifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(),
                     [this]
                     {
                         // Several signals in a row end the program once.
                         char bytes[16];
                         while (::read(g_pipe[0], bytes, sizeof bytes) > 0)
                         {
                         }
                         m_onSignal();
                     });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

CSessionSignals::~CSessionSignals()
{
    if (!m_pNotifier)
        return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    m_pNotifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
