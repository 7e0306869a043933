#include "app/SignalPipe.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace
{

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_arrived[NSIG] = {};

void OnSignal(int signo)
{
    const int savedErrno = errno;
    g_arrived[signo] = 1;
    const auto byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

CSignalPipe::CSignalPipe(std::span<const int> caught, std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    std::fill(std::begin(g_arrived), std::end(g_arrived), 0);
    m_pNotifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(),
                     [this]
                     {
                         unsigned char bytes[64];
                         std::vector<int> arrived;
                         ssize_t count = 0;
                         while ((count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
                             for (ssize_t i = 0; i < count; ++i)
                                 if (std::find(arrived.begin(), arrived.end(), bytes[i]) ==
                                     arrived.end())
                                     arrived.push_back(bytes[i]);
                         for (const int signo : arrived)
                             m_onSignal(signo);
                     });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : caught)
    {
        struct sigaction previous = {};
        ::sigaction(signo, &action, &previous);
        m_previous.emplace_back(signo, previous);
    }
}

CSignalPipe::~CSignalPipe()
{
    if (!m_pNotifier)
        return;
    for (const auto& [signo, previous] : m_previous)
        ::sigaction(signo, &previous, nullptr);
    m_pNotifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool CSignalPipe::HasArrived(int signo)
{
    return signo > 0 && signo < NSIG && g_arrived[signo] != 0;
}
