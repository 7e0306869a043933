#pragma once

#include "db/DbUserInterface.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// ODBC data sources as the driver manager and its installer know them.

struct DataSourceInfo
{
    std::string driver; // the driver's name as the driver manager reports it
    bool system = false;
};

using DataSourceAttributes = std::vector<std::pair<std::string, std::string>>;

// The name a new user starts with, and the driver that gives it a database
// without any server.
inline constexpr char kDefaultDataSourceName[] = "Arveda Sensor Database";
inline constexpr char kEmbeddedDriver[] = "SQLite3";
inline constexpr std::size_t kMaxDataSourceNameLength = 32;

// Exact, case-sensitive name; a user data source shadows a system one.
std::optional<DataSourceInfo> FindDataSource(const std::string& name);
// The file of an embedded database, as the data source names it; empty for a
// data source that keeps its data elsewhere, or that does not exist.
std::string DataSourceDatabaseFile(const std::string& name);
// Whether the data source of that name keeps its data through the embedded
// driver (by the driver's name or library).
bool UsesEmbeddedDriver(const std::string& dataSourceName);
// Every defined name, user and system, in the driver manager's order.
std::vector<std::string> ListDataSources();
// Creates, reconfigures or re-creates the data source dataSourceName through
// the installer; it may come back under another name. True on success.
bool SetupDataSource(std::string& dataSourceName, bool otherDriver, IDbUserInterface& ui);

// The keywords set on every data source the program creates; empty for a
// driver that is not known here. Both drivers hand a result over a few rows
// at a time instead of reading all of it when the query runs, so that
// exporting years of readings takes no more memory than a day's. The
// embedded database keeps a write-ahead log, so that a long read (an
// export, a chart) never holds up the recording's writes, and syncs it at
// every commit, so that a stored row survives a power cut.
DataSourceAttributes CreatedDataSourceAttributes(const std::string& driver);

// The drivers registered with the driver manager, in its order.
std::vector<std::string> ListInstalledDrivers();
// The keywords a data source of this driver needs; empty for a driver that
// is not known here, whose settings are then free keyword=value lines.
std::vector<std::string> DriverKeywords(const std::string& driver);
// Empty when the name can be given to a data source, else the reason why not.
std::string CheckDataSourceName(const std::string& name);

// The folder in which new embedded databases are proposed; the front ends
// set it from the platform's data folder. Empty: no proposal.
void SetDefaultDatabaseFolder(const std::string& folder);
// The database file proposed for a new embedded data source of this name.
std::string ProposedDatabaseFile(const std::string& name);

// A data source of the embedded driver on file, without asking anyone. An
// existing data source of that name is left alone and reported in error.
bool CreateSqliteDataSource(const std::string& name, const std::string& file, bool system,
                            std::string& error);
