#include "common/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
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

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdinText,
                         std::chrono::milliseconds timeout, const std::string& outFile)
{
    int in[2], out[2], err[2];
    MakePipe(in);
    MakePipe(out);
    MakePipe(err);
    int fileFd = -1;
    if (!outFile.empty())
    {
        fileFd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fileFd < 0)
            throw std::runtime_error("cannot create " + outFile);
    }
    const pid_t pid = Spawn(argv, in[0], fileFd >= 0 ? fileFd : out[1], err[1]);
    if (fileFd >= 0)
        close(fileFd);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);

    ProcessResult result;
    size_t written = 0;
    if (stdinText.empty())
    {
        close(in[1]);
        in[1] = -1;
    }
    const auto deadline = Clock::now() + timeout;
    bool outOpen = true, errOpen = true, timedOut = false;
    while (outOpen || errOpen)
    {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        const int left = MillisLeft(deadline);
        if (left == 0)
        {
            timedOut = true;
            break;
        }
        if (poll(fds, in[1] >= 0 ? 3 : 2, left) < 0 && errno != EINTR)
            break;
        char buffer[4096];
        auto drain = [&](pollfd& fd, bool& open, std::string& into)
        {
            if (!open || !(fd.revents & (POLLIN | POLLHUP | POLLERR)))
                return;
            const ssize_t n = read(fd.fd, buffer, sizeof buffer);
            if (n > 0)
                into.append(buffer, static_cast<size_t>(n));
            else
                open = false;
        };
        drain(fds[0], outOpen, result.out);
        drain(fds[1], errOpen, result.err);
        if (in[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)))
        {
            const ssize_t n = write(in[1], stdinText.data() + written, stdinText.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            if (n < 0 || written == stdinText.size())
            {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (in[1] >= 0)
        close(in[1]);
    close(out[0]);
    close(err[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.exitCode = timedOut ? -1 : DecodeStatus(status);
    result.usage = UsageOf(usage);
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
    const auto deadline = Clock::now() + timeout;
    while (!m_exited)
    {
        rusage usage{};
        const pid_t done = wait4(m_pid, &m_status, WNOHANG, &usage);
        if (done == m_pid)
        {
            m_exited = true;
            m_usage = UsageOf(usage);
            break;
        }
        if (MillisLeft(deadline) == 0)
            return -1;
        usleep(10000);
    }
    return DecodeStatus(m_status);
}
