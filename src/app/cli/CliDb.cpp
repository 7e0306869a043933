#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "db/DataSource.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace
{

// The words after "init" or "check" when they hold options of that form
// only, each of a name in allowed.
std::optional<CCliWords> ReadWords(CliArgs args, std::initializer_list<std::string_view> allowed)
{
    std::optional<CCliWords> words = SplitWords(args);
    if (!words || !words->m_positional.empty() ||
        !std::all_of(words->m_options.begin(), words->m_options.end(),
                     [&](const auto& option) {
                         return std::find(allowed.begin(), allowed.end(), option.first) !=
                                allowed.end();
                     }))
        return std::nullopt;
    return words;
}

int Init(const CCliWords& words)
{
    const CSettings settings;
    const std::string name = words.Option("--dsn").value_or(settings.DataSource().toStdString());
    if (FindDataSource(name))
    {
        CliReport(CliLevel::Warning, "tessaro-cli: data source '%s' exists already; left as it is",
                  name.c_str());
        return 0;
    }
    SetDefaultDatabaseFolder(DefaultDatabaseFolder().toStdString());
    const std::string file = words.Option("--file").value_or(ProposedDatabaseFile(name));
    std::string error;
    if (!CreateSqliteDataSource(name, file, false, error))
    {
        CliReport(CliLevel::Error, "tessaro-cli: %s", error.c_str());
        return 1;
    }
    std::error_code ignored;
    std::printf("dsn\t%s\nfile\t%s\n", name.c_str(),
                std::filesystem::absolute(file, ignored).c_str());
    return FlushStdout() ? 0 : 1;
}

int Check(const CDbOptions& options)
{
    CCliSession session(options);
    CSensorDatabase& database = session.m_database;
    if (!session.OpenDatabase())
        return 1;
    std::printf("dbms\t%s\n", database.m_db.GetDbmsName().c_str());
    for (const std::string& table : database.CreatedTables())
        std::printf("created\t%s\n", table.c_str());
    std::printf("tables\t%s\t%s\n", database.m_pszSensorsTable, database.m_pszRecordingTable);
    database.m_db.Close();
    return FlushStdout() ? 0 : 1;
}

} // namespace

int RunDb(CliArgs args)
{
    if (!args.empty() && args[0] == "init")
        if (const auto words = ReadWords(args.subspan(1), {"--dsn", "--file"}))
            return Init(*words);
    if (!args.empty() && args[0] == "check")
        if (const auto words = ReadWords(args.subspan(1), {"--dsn", "--user", "--db-timeout"}))
            if (const std::optional<CDbOptions> options = ReadDbOptions(*words))
                return Check(*options);
    return UsageError("db");
}
