#include "db/DataSource.h"

#include "db/DataSourceSnapshot.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <string_view>

namespace
{

constexpr char kOdbcIni[] = "odbc.ini";
constexpr char kOdbcInstIni[] = "odbcinst.ini";
// Characters that ODBC does not allow in a data source name, and '#', which
// the attribute-list templates turn into a terminator.
constexpr std::string_view kForbiddenNameChars = "#[]{}(),;?*=!@\\";

std::string g_defaultDatabaseFolder;

bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y)
                      {
                          return std::tolower(static_cast<unsigned char>(x)) ==
                                 std::tolower(static_cast<unsigned char>(y));
                      });
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class OdbcEnvironment
{
public:
    OdbcEnvironment()
    {
        if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv)))
        {
            m_hEnv = SQL_NULL_HENV;
            return;
        }
        SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                      SQL_IS_INTEGER);
    }
    ~OdbcEnvironment()
    {
        if (m_hEnv != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
    }
    OdbcEnvironment(const OdbcEnvironment&) = delete;
    OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;

    // Calls visit(name, driver) for each data source from direction first on
    // until visit returns false.
    template <typename Visit> void Enumerate(SQLUSMALLINT first, Visit visit) const
    {
        if (m_hEnv == SQL_NULL_HENV)
            return;
        std::array<SQLCHAR, 80> name{};
        std::array<SQLCHAR, 200> description{};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT descriptionLength = 0;
        for (SQLUSMALLINT direction = first;; direction = SQL_FETCH_NEXT)
        {
            const SQLRETURN rc =
                SQLDataSources(m_hEnv, direction, name.data(), name.size(), &nameLength,
                               description.data(), description.size(), &descriptionLength);
            if (!Succeeded(rc))
                return;
            // A cut name is not the name; it must never match a wanted one.
            if (nameLength >= static_cast<SQLSMALLINT>(name.size()))
                continue;
            if (!visit(std::string(reinterpret_cast<const char*>(name.data())),
                       std::string(reinterpret_cast<const char*>(description.data()))))
                return;
        }
    }

private:
    SQLHENV m_hEnv = SQL_NULL_HENV;
};

// The installer reads and writes the user's or the system's odbc.ini by the
// configuration mode, which is process-wide; it goes back to both at the end.
class ConfigModeScope
{
public:
    explicit ConfigModeScope(bool system)
    {
        SQLSetConfigMode(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
    }
    ~ConfigModeScope() { SQLSetConfigMode(ODBC_BOTH_DSN); }
    ConfigModeScope(const ConfigModeScope&) = delete;
    ConfigModeScope& operator=(const ConfigModeScope&) = delete;
};

std::string InstallerErrorText()
{
    DWORD code = 0;
    std::array<char, 264> message{};
    WORD length = 0;
    if (!Succeeded(SQLInstallerError(1, &code, message.data(), message.size(), &length)))
        return {};
    return std::string(message.data(), strnlen(message.data(), message.size()));
}

// The installer keeps every value it has read for a while, keyed among other
// things by the caller's buffer size, and does not notice when the file
// changes, not even through its own writes. A buffer size it has not seen
// lately makes it read the file.
std::string ProfileString(const std::string& section, const char* key, const char* file)
{
    static unsigned s_nCall = 0;
    std::vector<char> buffer(4096 + (s_nCall++ % 65536), '\0');
    if (SQLGetPrivateProfileString(section.c_str(), key, "", buffer.data(),
                                   static_cast<int>(buffer.size()), file) <= 0)
        return {};
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

// Every keyword of the data source but its driver, in the scope set by the
// caller's ConfigModeScope.
DataSourceAttributes ReadAttributes(const std::string& name)
{
    std::array<char, 8192> keys{};
    const int length = SQLGetPrivateProfileString(name.c_str(), nullptr, "", keys.data(),
                                                  static_cast<int>(keys.size()) - 1, kOdbcIni);
    DataSourceAttributes attributes;
    if (length <= 0)
        return attributes;
    for (const char* key = keys.data(); *key != '\0' && key < keys.data() + keys.size() - 1;
         key += std::strlen(key) + 1)
        if (!EqualNoCase(key, "Driver"))
            attributes.emplace_back(key, ProfileString(name, key, kOdbcIni));
    return attributes;
}

const std::string* FindValue(const DataSourceAttributes& attributes, const std::string& key)
{
    for (const auto& [k, v] : attributes)
        if (EqualNoCase(k, key))
            return &v;
    return nullptr;
}

enum class DriverKind
{
    Sqlite,
    Postgres,
    Other
};

DriverKind KindOf(const std::string& driver)
{
    // A data source may name its driver by library path instead of by name.
    const bool isLibrary =
        driver.find('/') != std::string::npos || (driver.size() > 3 && driver.ends_with(".so"));
    const std::string library =
        Lower(isLibrary ? driver : ProfileString(driver, "Driver", kOdbcInstIni));
    const std::string file = std::filesystem::path(library).filename().string();
    if (file.find("sqlite") != std::string::npos)
        return DriverKind::Sqlite;
    if (file.find("psqlodbc") != std::string::npos)
        return DriverKind::Postgres;
    const std::string name = Lower(driver);
    if (name.starts_with("sqlite"))
        return DriverKind::Sqlite;
    if (name.starts_with("postgresql"))
        return DriverKind::Postgres;
    return DriverKind::Other;
}

bool IsInstalled(const std::string& driver)
{
    const std::vector<std::string> drivers = ListInstalledDrivers();
    return std::find(drivers.begin(), drivers.end(), driver) != drivers.end();
}

// Whether the installer can hand this driver's data sources to a setup
// routine of the driver's own: it loads the driver's setup library the way
// dlopen does and calls its ConfigDSN. When that cannot work, a failure of
// the installer is for want of the routine, not a refusal by the driver.
bool HasSetupRoutine(const std::string& driver)
{
    if (!IsInstalled(driver))
        return false;
    std::string library = ProfileString(driver, "Setup64", kOdbcInstIni);
    if (library.empty())
        library = ProfileString(driver, "Setup", kOdbcInstIni);
    if (library.empty())
        return false;
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr)
        return false;
    const bool found =
        dlsym(handle, "ConfigDSN") != nullptr || dlsym(handle, "ConfigDSNW") != nullptr;
    dlclose(handle);
    return found;
}

// The installer's list of NUL-terminated keyword=value pairs, from the
// templates "DSN=%s#" and "READONLY=FALSE#". CheckDataSourceName keeps the
// name short enough for the 264 bytes the list may take.
std::string BuildAttributeList(const std::string& name, bool creating)
{
    std::string list = "DSN=" + name + "#";
    if (creating)
        list += "READONLY=FALSE#";
    std::replace(list.begin(), list.end(), '#', '\0');
    list.push_back('\0');
    return list;
}

std::string CheckAttributes(const DataSourceAttributes& attributes)
{
    for (const auto& [key, value] : attributes)
    {
        const bool badKey = key.empty() || key.find_first_of("=[]") != std::string::npos ||
                            EqualNoCase(key, "Driver") || EqualNoCase(key, "DSN") ||
                            key.front() == ' ' || key.back() == ' ';
        const auto isControl = [](char c)
        { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; };
        if (badKey || std::any_of(key.begin(), key.end(), isControl) ||
            std::any_of(value.begin(), value.end(), isControl))
            return "Die Einstellung „" + key + "“ kann so nicht gespeichert werden.";
    }
    return {};
}

// Writes edited over before into the data source section, in the scope set
// by the caller: empty or missing keywords that were there are removed.
bool ApplyAttributes(const std::string& name, const DataSourceAttributes& before,
                     const DataSourceAttributes& edited)
{
    bool ok = true;
    for (const auto& [key, value] : edited)
    {
        if (!value.empty())
            ok = SQLWritePrivateProfileString(name.c_str(), key.c_str(), value.c_str(), kOdbcIni) &&
                 ok;
        else if (FindValue(before, key) != nullptr)
            ok = SQLWritePrivateProfileString(name.c_str(), key.c_str(), nullptr, kOdbcIni) && ok;
    }
    for (const auto& [key, value] : before)
        if (FindValue(edited, key) == nullptr)
            ok = SQLWritePrivateProfileString(name.c_str(), key.c_str(), nullptr, kOdbcIni) && ok;
    return ok;
}

std::string SaveFailure(const std::string& name)
{
    std::string message = "Die Datenquelle „" + name + "“ konnte nicht gespeichert werden.";
    if (const std::string detail = InstallerErrorText(); !detail.empty())
        message += " (" + detail + ")";
    return message;
}

// A new section for name with the driver and attributes; on failure nothing
// of it stays and error says why.
bool WriteNewDataSource(const std::string& name, const std::string& driver, bool system,
                        const DataSourceAttributes& attributes, std::string& error)
{
    ConfigModeScope scope(system);
    if (SQLWriteDSNToIni(name.c_str(), driver.c_str()) && ApplyAttributes(name, {}, attributes))
        return true;
    error = SaveFailure(name);
    SQLRemoveDSNFromIni(name.c_str());
    return false;
}

// Writes what the driver settings dialog returned; empty on success, else
// why not. before is what the dialog started from, existing everything the
// data source held (both empty when creating); a changed name moves the
// data source, with the keywords the dialog did not show.
std::string WriteEditedDataSource(const std::string& name, const std::string& newName,
                                  const std::string& driver, bool system, bool creating,
                                  const DataSourceAttributes& existing,
                                  const DataSourceAttributes& before,
                                  const DataSourceAttributes& edited)
{
    std::string error;
    if (creating)
    {
        DataSourceAttributes attributes = edited;
        for (auto& keyword : CreatedDataSourceAttributes(driver))
            if (FindValue(attributes, keyword.first) == nullptr)
                attributes.push_back(std::move(keyword));
        WriteNewDataSource(newName, driver, system, attributes, error);
        return error;
    }
    if (newName == name)
    {
        ConfigModeScope scope(system);
        return ApplyAttributes(name, before, edited) ? std::string() : SaveFailure(name);
    }
    DataSourceAttributes moved;
    for (const auto& [key, value] : existing)
        if (FindValue(before, key) == nullptr)
            moved.emplace_back(key, value);
    for (const auto& [key, value] : edited)
        if (!value.empty())
            moved.emplace_back(key, value);
    if (WriteNewDataSource(newName, driver, system, moved, error))
    {
        ConfigModeScope scope(system);
        SQLRemoveDSNFromIni(name.c_str());
    }
    return error;
}

// Stands in for the setup routine that drivers on this platform lack: asks
// for the driver's keywords and writes the data source in the given scope.
bool EditWithoutSetupRoutine(const std::string& name, const std::string& driver, bool system,
                             bool creating, IDbUserInterface& ui)
{
    DataSourceAttributes existing;
    if (!creating)
    {
        ConfigModeScope scope(system);
        existing = ReadAttributes(name);
    }
    // A known driver is edited keyword by keyword and whatever else the data
    // source holds stays as it is; any other driver shows all it holds.
    const std::vector<std::string> keywords = DriverKeywords(driver);
    DataSourceAttributes before = keywords.empty() ? existing : DataSourceAttributes();
    DataSourceAttributes edited = before;
    std::string proposedFile;
    for (const std::string& keyword : keywords)
    {
        if (const std::string* value = FindValue(existing, keyword))
        {
            before.emplace_back(keyword, *value);
            edited.emplace_back(keyword, *value);
        }
        else if (creating && keyword == "Database" && KindOf(driver) == DriverKind::Sqlite)
        {
            proposedFile = ProposedDatabaseFile(name);
            edited.emplace_back(keyword, proposedFile);
        }
        else
            edited.emplace_back(keyword, std::string());
    }

    std::string newName = name;
    if (!ui.EditDriverSettings(driver, newName, edited))
        return false;

    std::string error = CheckDataSourceName(newName);
    if (error.empty())
        error = CheckAttributes(edited);
    if (error.empty() && newName != name && FindDataSource(newName))
        error = "Eine Datenquelle namens „" + newName + "“ gibt es bereits.";
    if (error.empty())
        error = WriteEditedDataSource(name, newName, driver, system, creating, existing, before,
                                      edited);
    if (!error.empty())
    {
        ui.ShowMessage(error);
        return false;
    }

    // The proposed folder may not exist yet on first use.
    if (const std::string* file = FindValue(edited, "Database");
        !proposedFile.empty() && file != nullptr && *file == proposedFile)
    {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(proposedFile).parent_path(),
                                            ignored);
    }
    return true;
}

} // namespace

std::optional<DataSourceInfo> FindDataSource(const std::string& name)
{
    OdbcEnvironment environment;
    std::optional<DataSourceInfo> found;
    for (const SQLUSMALLINT first : {SQL_FETCH_FIRST_USER, SQL_FETCH_FIRST_SYSTEM})
    {
        environment.Enumerate(first,
                              [&](const std::string& candidate, const std::string& driver)
                              {
                                  if (candidate != name)
                                      return true;
                                  found = DataSourceInfo{driver, first == SQL_FETCH_FIRST_SYSTEM};
                                  return false;
                              });
        if (found)
            break;
    }
    if (found)
    {
        // The driver manager reports the driver from the installer's memory,
        // which lags behind a data source re-created moments ago.
        ConfigModeScope scope(found->system);
        if (std::string driver = ProfileString(name, "Driver", kOdbcIni); !driver.empty())
            found->driver = std::move(driver);
    }
    return found;
}

std::string DataSourceDatabaseFile(const std::string& name)
{
    const std::optional<DataSourceInfo> found = FindDataSource(name);
    if (!found || KindOf(found->driver) != DriverKind::Sqlite)
        return {};
    ConfigModeScope scope(found->system);
    return ProfileString(name, "Database", kOdbcIni);
}

bool UsesEmbeddedDriver(const std::string& dataSourceName)
{
    const std::optional<DataSourceInfo> found = FindDataSource(dataSourceName);
    return found && KindOf(found->driver) == DriverKind::Sqlite;
}

std::vector<std::string> ListDataSources()
{
    OdbcEnvironment environment;
    std::vector<std::string> names;
    environment.Enumerate(SQL_FETCH_FIRST,
                          [&](const std::string& name, const std::string&)
                          {
                              names.push_back(name);
                              return true;
                          });
    return names;
}

std::vector<std::string> ListInstalledDrivers()
{
    std::vector<char> buffer(20000, '\0');
    WORD length = 0;
    std::vector<std::string> drivers;
    // The last two bytes stay NUL, so the list always ends within the buffer.
    if (!SQLGetInstalledDrivers(buffer.data(), static_cast<WORD>(buffer.size() - 2), &length))
        return drivers;
    for (const char* name = buffer.data(); *name != '\0'; name += std::strlen(name) + 1)
        drivers.emplace_back(name);
    return drivers;
}

DataSourceAttributes CreatedDataSourceAttributes(const std::string& driver)
{
    switch (KindOf(driver))
    {
    case DriverKind::Sqlite:
        // The driver's own default is a sync now and then, which a
        // write-ahead log does not survive a power cut with.
        return {{"StepAPI", "1"}, {"JournalMode", "WAL"}, {"SyncPragma", "FULL"}};
    case DriverKind::Postgres:
        // A cursor, fetched this many rows at a time.
        return {{"UseDeclareFetch", "1"}, {"Fetch", "10000"}};
    case DriverKind::Other:
        break;
    }
    return {};
}

std::vector<std::string> DriverKeywords(const std::string& driver)
{
    switch (KindOf(driver))
    {
    case DriverKind::Sqlite:
        return {"Database"};
    case DriverKind::Postgres:
        return {"Servername", "Port", "Database", "Username", "Password"};
    case DriverKind::Other:
        break;
    }
    return {};
}

std::string CheckDataSourceName(const std::string& name)
{
    if (name.empty())
        return "Bitte geben Sie einen Namen für die Datenquelle an.";
    // Characters, not bytes: every byte that does not continue a UTF-8
    // sequence starts one.
    const auto characters =
        std::count_if(name.begin(), name.end(),
                      [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; });
    if (static_cast<std::size_t>(characters) > kMaxDataSourceNameLength)
        return "Der Name der Datenquelle darf höchstens 32 Zeichen lang sein.";
    const bool badChar =
        std::any_of(name.begin(), name.end(),
                    [](char c)
                    {
                        return static_cast<unsigned char>(c) < 0x20 || c == '\x7f' ||
                               kForbiddenNameChars.find(c) != std::string_view::npos;
                    });
    if (badChar)
        return "Der Name der Datenquelle darf weder Steuerzeichen noch eines der Zeichen "
               "# [ ] { } ( ) , ; ? * = ! @ \\ enthalten.";
    if (name.front() == ' ' || name.back() == ' ')
        return "Der Name der Datenquelle darf nicht mit einem Leerzeichen beginnen oder enden.";
    return {};
}

void SetDefaultDatabaseFolder(const std::string& folder)
{
    g_defaultDatabaseFolder = folder;
}

std::string ProposedDatabaseFile(const std::string& name)
{
    if (g_defaultDatabaseFolder.empty())
        return {};
    std::string file = name;
    std::replace(file.begin(), file.end(), '/', '_');
    return (std::filesystem::path(g_defaultDatabaseFolder) / (file + ".sqlite")).string();
}

bool SetupDataSource(std::string& dataSourceName, bool otherDriver, IDbUserInterface& ui)
{
    if (const std::string error = CheckDataSourceName(dataSourceName); !error.empty())
    {
        ui.ShowMessage(error);
        return false;
    }
    const std::optional<DataSourceInfo> found = FindDataSource(dataSourceName);

    WORD request = 0;
    std::string driver;
    bool system = false;
    const bool creating = !found || otherDriver;
    if (!creating)
    {
        request = found->system ? ODBC_CONFIG_SYS_DSN : ODBC_CONFIG_DSN;
        driver = found->driver;
        system = found->system;
    }
    else
    {
        if (found)
            driver = found->driver;
        else if (dataSourceName == kDefaultDataSourceName && IsInstalled(kEmbeddedDriver))
            driver = kEmbeddedDriver;
        ui.ChooseDriver(ListInstalledDrivers(), driver, system);
        if (driver.empty())
            return false;
        request = system ? ODBC_ADD_SYS_DSN : ODBC_ADD_DSN;
        if (found)
        {
            const std::string removal = BuildAttributeList(dataSourceName, false);
            if (!SQLConfigDataSource(nullptr, found->system ? ODBC_REMOVE_SYS_DSN : ODBC_REMOVE_DSN,
                                     found->driver.c_str(), removal.c_str()))
            {
                // Without a setup routine nothing was removed; the old keywords
                // must not outlive the old driver.
                InstallerErrorText();
                ConfigModeScope scope(found->system);
                SQLRemoveDSNFromIni(dataSourceName.c_str());
            }
        }
    }

    const std::string attributes = BuildAttributeList(dataSourceName, creating);
    CDataSourceSnapshot snapshot;
    snapshot.Scan("old", false);
    if (!SQLConfigDataSource(nullptr, request, driver.c_str(), attributes.c_str()))
    {
        InstallerErrorText(); // dropped: a setup dialog of the driver reports for itself
        if (HasSetupRoutine(driver) ||
            !EditWithoutSetupRoutine(dataSourceName, driver, system, creating, ui))
            return false;
    }

    snapshot.ClearNewName();
    snapshot.Scan("new", true);
    if (!snapshot.NewName().empty())
        dataSourceName = snapshot.NewName();
    return true;
}

bool CreateSqliteDataSource(const std::string& name, const std::string& file, bool system,
                            std::string& error)
{
    error = CheckDataSourceName(name);
    if (!error.empty())
        return false;
    if (FindDataSource(name))
    {
        error = "Die Datenquelle „" + name + "“ gibt es bereits; sie bleibt unverändert.";
        return false;
    }
    if (file.empty())
    {
        error = "Bitte geben Sie die Datenbankdatei an.";
        return false;
    }
    if (!IsInstalled(kEmbeddedDriver))
    {
        error = std::string("Der ODBC-Treiber „") + kEmbeddedDriver + "“ ist nicht installiert.";
        return false;
    }
    std::error_code failure;
    // The driver opens the file relative to whatever folder a later program
    // runs in; only a full path means the same file every time.
    const std::filesystem::path path = std::filesystem::absolute(file, failure);
    if (!failure)
        std::filesystem::create_directories(path.parent_path(), failure);
    if (failure)
    {
        error = "Der Ordner für „" + file + "“ kann nicht angelegt werden: " + failure.message();
        return false;
    }
    DataSourceAttributes attributes = CreatedDataSourceAttributes(kEmbeddedDriver);
    attributes.insert(attributes.begin(), {"Database", path.string()});
    return WriteNewDataSource(name, kEmbeddedDriver, system, attributes, error);
}
