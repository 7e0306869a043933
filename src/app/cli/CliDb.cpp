#include "app/cli/CliCommands.h"
#include "app/cli/CliDbUserInterface.h"
#include "db/DataSource.h"
#include "db/SensorDatabase.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace
{

struct DbOptions
{
    std::optional<std::string> dsn;
    std::optional<std::string> file;
    std::optional<std::string> user;
};

// Options of the form "--name VALUE"; allowed lists the names this
// sub-command takes.
bool ParseOptions(CliArgs args, std::initializer_list<std::string_view> allowed, DbOptions& options)
{
    for (size_t i = 0; i < args.size(); i += 2)
    {
        const std::string& name = args[i];
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end() ||
            i + 1 >= args.size())
            return false;
        std::optional<std::string>& value = name == "--dsn"    ? options.dsn
                                            : name == "--file" ? options.file
                                                               : options.user;
        if (value)
            return false;
        value = args[i + 1];
    }
    return true;
}

bool FlushOutput()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        std::perror("tessaro-cli: stdout");
        return false;
    }
    return true;
}

int Init(const DbOptions& options)
{
    const CSettings settings;
    const std::string name = options.dsn.value_or(settings.DataSource().toStdString());
    if (FindDataSource(name))
    {
        std::fprintf(stderr, "tessaro-cli: data source '%s' exists already; left as it is\n",
                     name.c_str());
        return 0;
    }
    SetDefaultDatabaseFolder(DefaultDatabaseFolder().toStdString());
    const std::string file = options.file.value_or(ProposedDatabaseFile(name));
    std::string error;
    if (!CreateSqliteDataSource(name, file, false, error))
    {
        std::fprintf(stderr, "tessaro-cli: %s\n", error.c_str());
        return 1;
    }
    std::error_code ignored;
    std::printf("dsn\t%s\nfile\t%s\n", name.c_str(),
                std::filesystem::absolute(file, ignored).c_str());
    return FlushOutput() ? 0 : 1;
}

int Check(const DbOptions& options)
{
    const CSettings settings;
    CCliDbUserInterface ui(LoginOf(options.user));
    CSensorDatabase database(ui);
    database.m_strDataSource = options.dsn.value_or(settings.DataSource().toStdString());
    database.m_strUserName = settings.UserName().toStdString();
    // Named credentials are meant to be used, whatever the desktop does.
    database.m_bQuickConnect = settings.QuickConnect() && !options.user;
    if (!database.OpenDatabase(false))
        return 1;

    std::printf("dbms\t%s\n", database.m_db.GetDbmsName().c_str());
    for (const std::string& table : database.CreatedTables())
        std::printf("created\t%s\n", table.c_str());
    std::printf("tables\t%s\t%s\n", database.m_pszSensorsTable, database.m_pszRecordingTable);
    database.m_db.Close();
    return FlushOutput() ? 0 : 1;
}

} // namespace

int RunDb(CliArgs args)
{
    DbOptions options;
    if (!args.empty() && args[0] == "init" &&
        ParseOptions(args.subspan(1), {"--dsn", "--file"}, options))
        return Init(options);
    if (!args.empty() && args[0] == "check" &&
        ParseOptions(args.subspan(1), {"--dsn", "--user"}, options))
        return Check(options);
    return UsageError("db");
}
