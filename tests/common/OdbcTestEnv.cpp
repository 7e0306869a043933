#include "common/OdbcTestEnv.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

ScopedEnv::~ScopedEnv()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        if (it->second)
            setenv(it->first, it->second->c_str(), 1);
        else
            unsetenv(it->first);
}

void ScopedEnv::Set(const char* name, const std::string& value)
{
    const char* old = std::getenv(name);
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
}

OdbcTestEnv::OdbcTestEnv()
{
    m_strDrivers = ReadFileBytes("/etc/odbcinst.ini");
    WriteDriverList();
    // The installer writes system data sources only into an existing file.
    WriteFileBytes(SystemIni(), {});
    WriteFileBytes(UserIni(), {});
    m_env.Set("ODBCSYSINI", m_dir.Path());
    m_env.Set("ODBCINI", UserIni());
}

void OdbcTestEnv::AddDataSource(const std::string& name, const std::string& driver,
                                const std::vector<std::pair<std::string, std::string>>& attributes,
                                bool system)
{
    // Written straight into the file rather than through the installer, so
    // that tests of the program's own installer calls do not lean on them.
    std::ofstream out(system ? SystemIni() : UserIni(), std::ios::app);
    out << "\n[" << name << "]\nDriver=" << driver << '\n';
    for (const auto& [key, value] : attributes)
        out << key << '=' << value << '\n';
    if (!out.flush())
        throw std::runtime_error("cannot write the data source " + name);
}

void OdbcTestEnv::AddDriver(const std::string& name, const std::filesystem::path& library)
{
    m_strDrivers += "\n[" + name + "]\nDriver=" + library.string() + '\n';
    WriteDriverList();
}

void OdbcTestEnv::WriteDriverList()
{
    WriteFileBytes(m_dir / "odbcinst.ini", m_strDrivers);
    if (ReadFileBytes(m_dir / "odbcinst.ini") != m_strDrivers)
        throw std::runtime_error("cannot write the driver list");
}

void OdbcTestEnv::AddSqliteDataSource(const std::string& name, const std::filesystem::path& dbFile,
                                      bool system)
{
    // Stepping through results, as the data sources the program creates do,
    // but in the rollback journal mode of older ones: a reader that does not
    // let go of its result then holds up every writer.
    AddDataSource(name, "SQLite3", {{"Database", dbFile.string()}, {"StepAPI", "1"}}, system);
}

void OdbcTestEnv::AddPostgresDataSource(const std::string& name, int port,
                                        const std::string& database, const std::string& user,
                                        bool system, const std::string& password)
{
    AddDataSource(name, PostgresDriver(),
                  {{"Servername", "127.0.0.1"},
                   {"Port", std::to_string(port)},
                   {"Database", database},
                   {"Username", user},
                   {"Password", password}},
                  system);
}
