#pragma once

#include "app/cli/CliDbUserInterface.h"
#include "sensors/OrbelDoc.h"
#include "db/SensorDatabase.h"

#include <optional>
#include <string>

// A configuration file and the data source of the settings, for the
// commands that work on both as the desktop does.
class CCliSession
{
public:
    // dsn: the data source to use instead of the configured one; user: the
    // login to use (see LoginOf), whatever the desktop does.
    CCliSession(const std::optional<std::string>& dsn, const std::optional<std::string>& user);

    // Reads the configuration file; 0, or the exit status after saying why.
    int LoadDocument(const std::string& path);
    // Opens the data source without offering to create it.
    bool OpenDatabase() { return m_database.OpenDatabase(false); }

    COrbelDoc m_document;
    CCliDbUserInterface m_ui;
    CSensorDatabase m_database{m_ui};
};

// Writes stdout out; false after saying why it could not.
bool FlushStdout();
