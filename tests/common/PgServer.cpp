#include "common/PgServer.h"

#include "common/LoopbackPort.h"
#include "common/Process.h"

#include <filesystem>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace
{

const std::string kBin = "/usr/lib/postgresql/15/bin/";

// Members of this group log in over TCP with their password; everyone else
// is trusted.
constexpr const char* kPasswordGroup = "password_login";

// Once the folder ($2) has gone the server was stopped; once the test
// process ($1) has gone without that, this stops it ("$@") and removes it.
constexpr const char* kWatcher =
    "exec </dev/null >/dev/null 2>&1; pid=$1 dir=$2; shift 2; "
    "while kill -0 \"$pid\" && [ -d \"$dir\" ]; do sleep 1; done; \"$@\"; rm -rf \"$dir\"";

// initdb and the server refuse to run as root.
std::vector<std::string> AsServerUser(std::vector<std::string> argv)
{
    if (geteuid() == 0)
        argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
    return argv;
}

// Its output; throws with everything it said when it fails.
std::string Checked(const std::vector<std::string>& argv, std::chrono::seconds limit)
{
    const ProcessResult result = RunProcess(argv, {}, limit);
    if (result.exitCode == 0)
        return result.out;
    std::string text;
    for (const std::string& arg : argv)
        text += arg + ' ';
    throw std::runtime_error(text + "exited with " + std::to_string(result.exitCode) + ":\n" +
                             result.out + result.err);
}

} // namespace

PgServer::PgServer(bool durable) : m_data(m_dir / "data"), m_bDurable(durable)
{
    if (geteuid() == 0)
    {
        const passwd* user = getpwnam("postgres");
        if (!user || chown(m_dir.Path().c_str(), user->pw_uid, user->pw_gid) != 0)
            throw std::runtime_error("cannot hand the server folder to the postgres user");
    }
    StartWatcher();
    RunAsServerUser({kBin + "initdb", "-D", m_data.string(), "-A", "trust", "-U", "postgres", "-E",
                     "UTF8", "--locale=C", "--no-sync", "--no-instructions"});
    // Rewrite the file in place so that it keeps the server user as owner.
    WriteFileBytes(m_data / "pg_hba.conf", std::string("local all all trust\n") + "host all +" +
                                               kPasswordGroup + " 127.0.0.1/32 scram-sha-256\n" +
                                               "host all all 127.0.0.1/32 trust\n");
    m_nPort = FreeLoopbackPort();
    if (m_nPort == 0)
        throw std::runtime_error("no free loopback port");
    Start();
    Psql(std::string("CREATE ROLE ") + User() + " LOGIN; CREATE ROLE " + kPasswordGroup +
         " NOLOGIN;");
}

PgServer::~PgServer()
{
    try
    {
        Stop();
    }
    catch (const std::exception&)
    {
        // Not by the folder that goes next.
        RunProcess(StopNow());
    }
}

PgServer& PgServer::Shared()
{
    static PgServer server;
    return server;
}

std::string PgServer::RunAsServerUser(const std::vector<std::string>& argv) const
{
    return Checked(AsServerUser(argv), std::chrono::seconds(120));
}

void PgServer::Start()
{
    if (m_bRunning)
        return;
    std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(m_nPort) + " -k " +
                          m_dir.Path().string();
    if (!m_bDurable)
        options += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    RunAsServerUser({kBin + "pg_ctl", "-D", m_data.string(), "-l", (m_dir / "server.log").string(),
                     "-w", "-t", "60", "-o", options, "start"});
    m_bRunning = true;
}

void PgServer::Stop()
{
    if (!m_bRunning)
        return;
    RunAsServerUser({kBin + "pg_ctl", "-D", m_data.string(), "-m", "fast", "-w", "stop"});
    m_bRunning = false;
}

void PgServer::SignalAll(int signo) const
{
    // The postmaster's pid heads its pid file; its children are the rest,
    // listed once it is stopped and cannot start more.
    const pid_t postmaster =
        static_cast<pid_t>(std::atol(ReadFileBytes(m_data / "postmaster.pid").c_str()));
    if (postmaster <= 1)
        throw std::runtime_error("no postmaster pid in " + (m_data / "postmaster.pid").string());
    kill(postmaster, signo);
    const std::string task = "/proc/" + std::to_string(postmaster) + "/task/";
    std::istringstream children(ReadFileBytes(task + std::to_string(postmaster) + "/children"));
    for (pid_t pid = 0; children >> pid;)
        kill(pid, signo);
}

std::string PgServer::Psql(const std::string& sql, const std::string& database) const
{
    return Checked({kBin + "psql", "-XqAt", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                    std::to_string(m_nPort), "-U", "postgres", "-d", database, "-c", sql},
                   std::chrono::seconds(60));
}

std::string PgServer::CreateDatabase()
{
    const std::string name = "tessaro_" + std::to_string(++m_nDatabases);
    Psql("CREATE DATABASE " + name + " OWNER " + User());
    return name;
}

void PgServer::CreatePasswordUser(const std::string& name, const std::string& password)
{
    Psql("CREATE ROLE \"" + name + "\" LOGIN PASSWORD '" + password + "' IN ROLE " +
         kPasswordGroup);
}

void PgServer::StartWatcher()
{
    // In a session of its own, which no signal to the test reaches.
    std::vector<std::string> argv = {"/usr/bin/setsid", "-f", "/bin/sh", "-c", kWatcher};
    argv.insert(argv.end(), {"pg-watcher", std::to_string(getpid()), m_dir.Path().string()});
    const std::vector<std::string> stop = StopNow();
    argv.insert(argv.end(), stop.begin(), stop.end());
    if (RunProcess(argv).exitCode != 0)
        throw std::runtime_error("cannot start the server watcher");
}

std::vector<std::string> PgServer::StopNow() const
{
    return AsServerUser({kBin + "pg_ctl", "-D", m_data.string(), "-m", "immediate", "-w", "stop"});
}
