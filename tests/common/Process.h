#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs the project's executables from tests: end-to-end checks go through
// real processes, real pipes and real sockets. Every child gets SIGKILL when
// the thread that started it ends, so a test that crashes leaves no
// simulator behind and no pipe of ctest's open.

// What a finished child used, as the kernel accounts it.
struct ProcessUsage
{
    double userSeconds = 0;
    double systemSeconds = 0;
    long peakRssKb = 0; // the largest resident set
    double ProcessorSeconds() const { return userSeconds + systemSeconds; }
};

struct ProcessResult
{
    int exitCode = -1; // -1 when killed by a signal or timed out
    std::string out;
    std::string err;
    ProcessUsage usage;
};

// Runs argv to completion, feeding stdinText; kills it after timeout. With
// outFile, stdout goes into that file (created or emptied) instead of out.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdinText = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(30),
                         const std::string& outFile = {});

// Runs argv followed by each case and expects each refused as bad usage:
// exit code 2, nothing on stdout, and errText on stderr.
void ExpectUsageErrors(const std::vector<std::string>& argv,
                       const std::vector<std::vector<std::string>>& cases,
                       const std::string& errText = {});

// Waits until pid has ended, as long as timeout; true when it has or is
// already gone. pid need not be a child of the test.
bool AwaitExit(pid_t pid, std::chrono::milliseconds timeout);

// A process that runs beside the test, such as varion-sim. Its stdout can be
// read line by line; the destructor terminates it.
class ChildProcess
{
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Next stdout line without its LF; empty optional-like result: returns
    // false on end of output or timeout.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads lines until one starts with prefix; returns it (false on timeout).
    bool WaitForLine(const std::string& prefix, std::string& line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Signal(int signo);
    // Stops reading its stdout, as a reader of a pipe that goes away.
    void CloseOutput();
    // Waits for exit; returns the exit code, -1 on signal death or timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // What it used, once Wait has seen it exit.
    const ProcessUsage& Usage() const { return m_usage; }
    // Everything read from stdout after the last line handed out.
    std::string ReadRest(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    pid_t Pid() const { return m_pid; }

private:
    bool Fill(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_outFd = -1;
    bool m_eof = false;
    bool m_exited = false;
    int m_status = 0;
    ProcessUsage m_usage;
    std::string m_buffer;
};
