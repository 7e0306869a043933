#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class QSocketNotifier;

// Signals reach the event loop through a pipe: the handler only writes the
// signal's number, and onSignal runs between two handlers of the event loop,
// never in the middle of one. Signals of one kind that arrive before it runs
// make one call. The handling before is back when the object goes; one
// object at a time.
class CSignalPipe
{
public:
    CSignalPipe(std::span<const int> caught, std::function<void(int signo)> onSignal);
    ~CSignalPipe();
    CSignalPipe(const CSignalPipe&) = delete;
    CSignalPipe& operator=(const CSignalPipe&) = delete;

    // False when the signals could not be caught; they then act as they
    // would without it.
    bool IsCaught() const { return m_pNotifier != nullptr; }
    // Whether the signal came since the object was made, also while the
    // event loop does not run (a long start).
    static bool HasArrived(int signo);

private:
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::vector<std::pair<int, struct sigaction>> m_previous;
};
