#pragma once

#include "app/cli/CliCommands.h"
#include "app/cli/CliDbUserInterface.h"
#include "db/SensorDatabase.h"
#include "sensors/OrbelDoc.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A command's words: its "--name VALUE" options and the other words in
// order.
struct CCliWords
{
    std::optional<std::string> Option(std::string_view name) const;

    std::map<std::string, std::string, std::less<>> m_options;
    std::vector<std::string> m_positional;
};

// Nothing for an option without a value or one given twice; main has
// refused the names the command's synopsis does not hold.
std::optional<CCliWords> SplitWords(CliArgs args);

// Reads a configuration file into document; 0, or the exit status after
// saying why not (2 for the wrong format).
int LoadConfiguration(COrbelDoc& document, const std::string& path);

// The options of every command that uses the database.
struct CDbOptions
{
    std::optional<std::string> m_strDsn;  // instead of the configured data source
    std::optional<std::string> m_strUser; // a login (see LoginOf), whatever the settings say
    std::optional<int> m_nTimeout;        // seconds, instead of the configured bound
};

// --dsn, --user and --db-timeout of the words; nothing for a time-out out
// of range.
std::optional<CDbOptions> ReadDbOptions(const CCliWords& words);

// A configuration file and the data source of the settings, for the
// commands that work on both as the desktop does.
class CCliSession
{
public:
    explicit CCliSession(const CDbOptions& options);

    // See LoadConfiguration.
    int LoadDocument(const std::string& path) { return LoadConfiguration(m_document, path); }
    // Opens the data source without offering to create it.
    bool OpenDatabase() { return m_database.OpenDatabase(false); }

    COrbelDoc m_document;
    CCliDbUserInterface m_ui;
    CSensorDatabase m_database{m_ui};
};

// Writes stdout out; false after saying why it could not.
bool FlushStdout();
