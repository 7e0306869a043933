#include "app/cli/CliSession.h"

#include "app/cli/CliReport.h"
#include "settings/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::optional<CCliWords> SplitWords(CliArgs args)
{
    CCliWords words;
    for (size_t i = 0; i < args.size(); ++i)
    {
        if (!args[i].starts_with("--"))
        {
            words.m_positional.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size() || !words.m_options.emplace(args[i], args[i + 1]).second)
            return std::nullopt;
        ++i;
    }
    return words;
}

std::optional<std::string> CCliWords::Option(std::string_view name) const
{
    const auto found = m_options.find(name);
    return found != m_options.end() ? std::optional(found->second) : std::nullopt;
}

std::optional<CDbOptions> ReadDbOptions(const CCliWords& words)
{
    CDbOptions options;
    options.m_strDsn = words.Option("--dsn");
    options.m_strUser = words.Option("--user");
    if (const std::optional<std::string> timeout = words.Option("--db-timeout"))
    {
        const std::optional<long> seconds =
            ReadWholeNumber(*timeout, 1, CSettings::m_nMaxDbTimeout);
        if (!seconds)
            return std::nullopt;
        options.m_nTimeout = static_cast<int>(*seconds);
    }
    return options;
}

CCliSession::CCliSession(const CDbOptions& options) : m_ui(LoginOf(options.m_strUser))
{
    const CSettings settings;
    m_database.m_strDataSource = options.m_strDsn.value_or(settings.DataSource().toStdString());
    m_database.m_strUserName = settings.UserName().toStdString();
    // Named credentials are meant to be used, whatever the desktop does.
    m_database.m_bQuickConnect = settings.QuickConnect() && !options.m_strUser;
    m_database.m_db.SetTimeout(options.m_nTimeout.value_or(settings.DbTimeout()));
}

int LoadConfiguration(COrbelDoc& document, const std::string& path)
{
    std::string errorText;
    if (document.OnOpenDocument(path, errorText))
        return 0;
    if (document.m_bBadFormat)
    {
        CliReport(CliLevel::Error, "%s", errorText.c_str());
        return 2;
    }
    CliReport(CliLevel::Error, "tessaro-cli: %s: %s", path.c_str(), errorText.c_str());
    return 1;
}

bool FlushStdout()
{
    // A full disk or a closed pipe must not look like success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        CliReport(CliLevel::Error, "tessaro-cli: stdout: %s", std::strerror(errno));
        return false;
    }
    return true;
}
