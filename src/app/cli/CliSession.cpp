#include "app/cli/CliSession.h"

#include "settings/Settings.h"

#include <cstdio>

CCliSession::CCliSession(const std::optional<std::string>& dsn,
                         const std::optional<std::string>& user)
    : m_ui(LoginOf(user))
{
    const CSettings settings;
    m_database.m_strDataSource = dsn.value_or(settings.DataSource().toStdString());
    m_database.m_strUserName = settings.UserName().toStdString();
    m_database.m_bQuickConnect = settings.QuickConnect() && !user;
    m_database.m_db.SetTimeout(settings.DbTimeout());
}

int CCliSession::LoadDocument(const std::string& path)
{
    std::string errorText;
    if (m_document.OnOpenDocument(path, errorText))
        return 0;
    if (m_document.m_bBadFormat)
    {
        std::fprintf(stderr, "%s\n", errorText.c_str());
        return 2;
    }
    std::fprintf(stderr, "tessaro-cli: %s: %s\n", path.c_str(), errorText.c_str());
    return 1;
}

bool FlushStdout()
{
    // A full disk or a closed pipe must not look like success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        std::perror("tessaro-cli: stdout");
        return false;
    }
    return true;
}
