#include "app/cli/CliDbUserInterface.h"

#include "app/cli/CliReport.h"

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
    CliReport(CliLevel::Error, "%s", diagnostics.c_str());
    return false;
}

bool CCliDbUserInterface::AskLogin(std::string& userName, std::string& password)
{
    if (!m_credentials)
    {
        CliReport(CliLevel::Error, "tessaro-cli: the data source asks for a login; give --user");
        return false;
    }
    userName = m_credentials->first;
    password = m_credentials->second;
    return true;
}

void CCliDbUserInterface::ShowMessage(const std::string& text)
{
    CliReport(CliLevel::Error, "%s", text.c_str());
}

void CCliDbUserInterface::ChooseDriver(const std::vector<std::string>&, std::string& driver, bool&)
{
    CliReport(CliLevel::Error, "tessaro-cli: no driver is chosen here; use 'tessaro-cli db init'");
    driver.clear();
}

bool CCliDbUserInterface::EditDriverSettings(const std::string&, std::string&,
                                             std::vector<std::pair<std::string, std::string>>&)
{
    return false;
}
