#pragma once

#include <csignal>
#include <functional>
#include <iterator>
#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (logout, a service manager, Ctrl+C, a closed
// terminal) reach the event loop as one call between two handlers, never in
// the middle of one. The handling before is back when this object goes; one
// object at a time.
class CSessionSignals
{
public:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

    explicit CSessionSignals(std::function<void()> onSignal);
    ~CSessionSignals();
    CSessionSignals(const CSessionSignals&) = delete;
    CSessionSignals& operator=(const CSessionSignals&) = delete;

    // False when the signals could not be caught; they then end the program
    // as they would without it.
    bool IsCaught() const { return m_pNotifier != nullptr; }

private:
    std::function<void()> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    struct sigaction m_previous[std::size(kSignals)] = {};
};
