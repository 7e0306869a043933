#pragma once

#include "common/TempDir.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Environment variables set while it lives; the previous values come back
// when it goes.
class ScopedEnv
{
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const char* name, const std::string& value);

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
};

// A private ODBC configuration: the driver manager of this process (and of
// every child started while the object lives) sees only the drivers of
// /etc/odbcinst.ini and the data sources added here, never the user's own.
// Create it before the first ODBC call; the previous settings come back
// when it goes.
class OdbcTestEnv
{
public:
    OdbcTestEnv();

    const std::filesystem::path& Folder() const { return m_dir.Path(); }
    std::filesystem::path UserIni() const { return m_dir / "user-odbc.ini"; }
    std::filesystem::path SystemIni() const { return m_dir / "odbc.ini"; }

    void AddSqliteDataSource(const std::string& name, const std::filesystem::path& dbFile,
                             bool system = false);
    void AddPostgresDataSource(const std::string& name, int port, const std::string& database,
                               const std::string& user, bool system = false,
                               const std::string& password = {});
    // Any driver, by its name in odbcinst.ini; the driver need not exist.
    void AddDataSource(const std::string& name, const std::string& driver,
                       const std::vector<std::pair<std::string, std::string>>& attributes,
                       bool system = false);

    // Registers a driver beside the installed ones; its library need not
    // exist, as after a driver was uninstalled.
    void AddDriver(const std::string& name, const std::filesystem::path& library);

    static const char* PostgresDriver() { return "PostgreSQL ANSI"; }

private:
    void WriteDriverList();

    TempDir m_dir;
    std::string m_strDrivers; // the installed drivers' entries, then ours
    ScopedEnv m_env;
};
