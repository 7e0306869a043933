#pragma once

#include "DbUserInterface.h"

#include <optional>
#include <string>
#include <vector>

// ODBC data sources as the driver manager and its installer know them.

struct DataSourceInfo
{
    std::string driver; // the driver's name as the driver manager reports it
    bool system = false;
};

// Exact, case-sensitive name; a user data source shadows a system one.
std::optional<DataSourceInfo> FindDataSource(const std::string& name);
// Every defined name, user and system, in the driver manager's order.
std::vector<std::string> ListDataSources();
// Creates, reconfigures or re-creates the data source dataSourceName through
// the installer; it may come back under another name. True on success.
bool SetupDataSource(std::string& dataSourceName, bool otherDriver, IDbUserInterface& ui);
