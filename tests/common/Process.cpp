#include "common/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

void MakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

int MillisLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// fork rather than posix_spawn: only a forked child can ask for the death
// signal before it executes the program. Between fork and exec only
// async-signal-safe calls, since the test process may run threads.
pid_t Spawn(const std::vector<std::string>& argv, int inFd, int outFd, int errFd)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int report[2];
    MakePipe(report);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
    {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have gone before the request took effect.
        // Nothing else of the test goes along, such as the pipes gtest
        // waits on; the report pipe closes itself on exec.
        const unsigned keep = static_cast<unsigned>(report[1]);
        if (getppid() == parent && (inFd < 0 || dup2(inFd, 0) == 0) && dup2(outFd, 1) == 1 &&
            (errFd < 0 || dup2(errFd, 2) == 2) && (keep <= 3 || close_range(3, keep - 1, 0) == 0) &&
            close_range(keep + 1, ~0U, 0) == 0)
            execve(args[0], args.data(), environ);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    int error = 0;
    const bool failed = pid < 0 || read(report[0], &error, sizeof error) > 0;
    close(report[0]);
    if (failed)
    {
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}

ProcessUsage UsageOf(const rusage& usage)
{
    return {Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss};
}

int DecodeStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An unnamed file holding text, read from its start.
int MemoryFile(const std::string& text = {})
{
    const int fd = memfd_create("tessaro-test", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error("cannot make an unnamed file");
    return fd;
}

// What a child wrote into an unnamed file; closes it.
std::string Contents(int fd)
{
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

} // namespace

bool AwaitExit(pid_t pid, std::chrono::milliseconds timeout)
{
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (exited < 0)
        return errno == ESRCH;
    pollfd end{exited, POLLIN, 0};
    int ready;
    while ((ready = poll(&end, 1, static_cast<int>(timeout.count()))) < 0 && errno == EINTR)
    {
    }
    close(exited);
    return ready == 1;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdinText,
                         std::chrono::milliseconds timeout, const std::string& outFile)
{
    // Unnamed files rather than pipes: nothing needs pumping while the child
    // runs, and its output is complete once it has exited.
    const int out = outFile.empty()
                        ? MemoryFile()
                        : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        throw std::runtime_error("cannot create " + outFile);
    const int in = MemoryFile(stdinText);
    const int err = MemoryFile();
    const pid_t pid = Spawn(argv, in, out, err);
    close(in);
    const bool timedOut = !AwaitExit(pid, timeout);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ProcessResult result;
    result.exitCode = timedOut ? -1 : DecodeStatus(status);
    result.usage = UsageOf(usage);
    result.out = outFile.empty() ? Contents(out) : (close(out), std::string());
    result.err = Contents(err);
    return result;
}

void ExpectUsageErrors(const std::vector<std::string>& argv,
                       const std::vector<std::vector<std::string>>& cases,
                       const std::string& errText)
{
    for (const std::vector<std::string>& args : cases)
    {
        std::vector<std::string> full = argv;
        full.insert(full.end(), args.begin(), args.end());
        const ProcessResult result = RunProcess(full);
        const std::string shown = ::testing::PrintToString(args);
        EXPECT_EQ(result.exitCode, 2) << shown;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_NE(result.err, "") << shown;
        EXPECT_NE(result.err.find(errText), std::string::npos) << shown << result.err;
    }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    int out[2];
    MakePipe(out);
    m_pid = Spawn(argv, -1, out[1], -1);
    close(out[1]);
    m_outFd = out[0];
}

ChildProcess::~ChildProcess()
{
    if (!m_exited)
    {
        kill(m_pid, SIGTERM);
        if (Wait(std::chrono::seconds(5)) == -1 && !m_exited)
        {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    close(m_outFd);
}

bool ChildProcess::Fill(Clock::time_point deadline)
{
    if (m_eof)
        return false;
    pollfd fd{m_outFd, POLLIN, 0};
    const int ready = poll(&fd, 1, MillisLeft(deadline));
    if (ready <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = read(m_outFd, buffer, sizeof buffer);
    if (n <= 0)
    {
        m_eof = true;
        return false;
    }
    m_buffer.append(buffer, static_cast<size_t>(n));
    return true;
}

bool ChildProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;)
    {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos)
        {
            line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return true;
        }
        if (!Fill(deadline))
            return false;
    }
}

bool ChildProcess::WaitForLine(const std::string& prefix, std::string& line,
                               std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (ReadLine(line, std::chrono::milliseconds(MillisLeft(deadline))))
        if (line.starts_with(prefix))
            return true;
    return false;
}

std::string ChildProcess::ReadRest(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Fill(deadline))
    {
    }
    return std::exchange(m_buffer, {});
}

void ChildProcess::CloseOutput()
{
    close(m_outFd);
    m_outFd = -1;
    m_eof = true;
}

void ChildProcess::Signal(int signo)
{
    if (!m_exited)
        kill(m_pid, signo);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    rusage usage{};
    if (!m_exited && AwaitExit(m_pid, timeout) && wait4(m_pid, &m_status, 0, &usage) == m_pid)
    {
        m_exited = true;
        m_usage = UsageOf(usage);
    }
    return m_exited ? DecodeStatus(m_status) : -1;
}
