#include "common/Process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace
{

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

pid_t Spawn(const std::vector<std::string>& argv, int inFd, int outFd, int errFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int DecodeStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdinText,
                         std::chrono::milliseconds timeout)
{
    int in[2], out[2], err[2];
    MakePipe(in);
    MakePipe(out);
    MakePipe(err);
    const pid_t pid = Spawn(argv, in[0], out[1], err[1]);
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
    waitpid(pid, &status, 0);
    result.exitCode = timedOut ? -1 : DecodeStatus(status);
    return result;
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
        const pid_t done = waitpid(m_pid, &m_status, WNOHANG);
        if (done == m_pid)
        {
            m_exited = true;
            break;
        }
        if (MillisLeft(deadline) == 0)
            return -1;
        usleep(10000);
    }
    return DecodeStatus(m_status);
}
