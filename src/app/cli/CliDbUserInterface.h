#pragma once

#include "db/DbUserInterface.h"

#include <optional>
#include <string>
#include <utility>

// The database layer's questions answered without anyone at a screen: every
// report goes to stderr and nothing waits for an answer.
class CCliDbUserInterface : public IDbUserInterface
{
public:
    // credentials: user name and password for a login; without them a login
    // is declined.
    explicit CCliDbUserInterface(
        std::optional<std::pair<std::string, std::string>> credentials = std::nullopt);

    bool ReportOdbcError(const std::string& diagnostics) override;
    bool AskLogin(std::string& userName, std::string& password) override;
    void ShowMessage(const std::string& text) override;
    void ChooseDriver(const std::vector<std::string>& drivers, std::string& driver,
                      bool& system) override;

private:
    std::optional<std::pair<std::string, std::string>> m_credentials;
};

// The login of "--user NAME": the password comes from TESSARO_DB_PASSWORD,
// never from the command line, where every user of the machine can read it.
// Nothing without a name.
std::optional<std::pair<std::string, std::string>> LoginOf(const std::optional<std::string>& user);
