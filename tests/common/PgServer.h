#pragma once

#include "common/TempDir.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// A private PostgreSQL 15 server on 127.0.0.1 in a temporary folder, with
// trust authentication except for roles made with a password. It stops with
// the object, and a watcher process stops it and removes its folder should
// the test process die without running destructors.
class PgServer
{
public:
    // durable: keep fsync on (benchmarks); tests run faster without it.
    explicit PgServer(bool durable = false);
    ~PgServer();

    // One server for the whole test process, started on first use.
    static PgServer& Shared();

    int Port() const { return m_nPort; }
    // The login role without a password that owns the databases made here.
    static const char* User() { return "tessaro"; }

    void Start();
    void Stop();
    void Restart()
    {
        Stop();
        Start();
    }
    // Stops (SIGSTOP) and continues the server and every process of it: a
    // server that accepts connections and answers nothing, its kernel still
    // acknowledging every packet.
    void Suspend() { SignalAll(SIGSTOP); }
    void Resume() { SignalAll(SIGCONT); }

    // Runs SQL as the superuser and returns psql's unaligned output; throws
    // when psql fails.
    std::string Psql(const std::string& sql, const std::string& database = "postgres") const;
    // A fresh, empty database owned by User(); its name is returned.
    std::string CreateDatabase();
    // A login role that must give its password (scram; no quote in it) to
    // connect over TCP.
    void CreatePasswordUser(const std::string& name, const std::string& password);

private:
    std::string RunAsServerUser(const std::vector<std::string>& argv) const;
    void SignalAll(int signo) const;
    void StartWatcher();
    std::vector<std::string> StopNow() const;

    TempDir m_dir;
    std::filesystem::path m_data;
    int m_nPort = 0;
    bool m_bDurable = false;
    bool m_bRunning = false;
    int m_nDatabases = 0;
};
