#include "app/cli/CliDbUserInterface.h"

#include <cstdio>
#include <cstdlib>

std::optional<std::pair<std::string, std::string>> LoginOf(const std::optional<std::string>& user)
{
    if (!user)
        return std::nullopt;
    const char* password = std::getenv("TESSARO_DB_PASSWORD");
    return std::make_pair(*user, std::string(password ? password : ""));
}

CCliDbUserInterface::CCliDbUserInterface(
    std::optional<std::pair<std::string, std::string>> credentials)
    : m_credentials(std::move(credentials))
{
}

bool CCliDbUserInterface::ReportOdbcError(const std::string& diagnostics)
{
    std::fprintf(stderr, "%s\n", diagnostics.c_str());
    return false;
}

bool CCliDbUserInterface::AskLogin(std::string& userName, std::string& password)
{
    if (!m_credentials)
    {
        std::fprintf(stderr, "tessaro-cli: the data source asks for a login; give --user\n");
        return false;
    }
    userName = m_credentials->first;
    password = m_credentials->second;
    return true;
}

void CCliDbUserInterface::ShowMessage(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

void CCliDbUserInterface::ChooseDriver(const std::vector<std::string>&, std::string& driver, bool&)
{
    std::fprintf(stderr, "tessaro-cli: no driver is chosen here; use 'tessaro-cli db init'\n");
    driver.clear();
}

bool CCliDbUserInterface::EditDriverSettings(const std::string&, std::string&,
                                             std::vector<std::pair<std::string, std::string>>&)
{
    return false;
}
