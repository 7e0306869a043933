#pragma once

#include <string>
#include <utility>
#include <vector>

// What the database layer needs from the person in front of the program. The
// desktop answers with modal dialogs; the command-line front end writes to
// stderr and never waits on anyone.
class IDbUserInterface
{
public:
    virtual ~IDbUserInterface() = default;

    // The diagnostic text of a failed ODBC call. Returns true when the user
    // left with "Abbrechen".
    virtual bool ReportOdbcError(const std::string& diagnostics) = 0;
    // Credentials for the next connect, pre-filled; false when cancelled.
    virtual bool AskLogin(std::string& userName, std::string& password) = 0;
    // A message box with the exclamation icon.
    virtual void ShowMessage(const std::string& text) = 0;
    // "Datenquelle anlegen": driver holds the preset (empty for a new data
    // source) and receives the choice, empty after Cancel; system receives
    // the scope ("jedermann").
    virtual void ChooseDriver(const std::vector<std::string>& drivers, std::string& driver,
                              bool& system) = 0;
    // Driver settings for a driver without a setup routine of its own:
    // keyword/value pairs of the data source; the name may be changed there.
    // False when cancelled, as it always is where nobody can be asked.
    virtual bool
    EditDriverSettings(const std::string& /*driver*/, std::string& /*name*/,
                       std::vector<std::pair<std::string, std::string>>& /*attributes*/)
    {
        return false;
    }
};
