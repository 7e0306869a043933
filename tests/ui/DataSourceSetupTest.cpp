#include "db/DataSource.h"
#include "db/DbAccess.h"
#include "db/DbTestSupport.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>

namespace
{

// A data source on the embedded driver as the program creates it: results
// come row by row, not read whole, and readers do not hold up writers.
std::string Embedded(const std::string& file)
{
    return "Database=" + file + ";Driver=SQLite3;JournalMode=WAL;StepAPI=1;SyncPragma=FULL";
}

// One section of an odbc.ini as "key=value;..." in the order of the keys,
// empty when the file has none of that name.
std::string ReadSection(const std::filesystem::path& file, const std::string& name)
{
    std::istringstream in(ReadFileBytes(file));
    std::map<std::string, std::string> section;
    bool inside = false;
    for (std::string line; std::getline(in, line);)
        if (line.starts_with('['))
            inside = line == "[" + name + "]";
        else if (const auto equals = line.find('='); inside && equals != std::string::npos)
            section[line.substr(0, equals)] = line.substr(equals + 1);
    std::string text;
    for (const auto& [key, value] : section)
        text += (text.empty() ? "" : ";") + key + "=" + value;
    return text;
}

// Stands in for the person at the dialogs and records what they were shown.
struct ScriptedUi : RecordingUi
{
    void ChooseDriver(const std::vector<std::string>& drivers, std::string& driver,
                      bool& system) override
    {
        ++m_nDriverChoices;
        offered = drivers;
        preset = driver;
        driver = choice.value_or(driver); // nothing chosen keeps the preset; "" is Cancel
        system = chooseSystem;
    }
    bool EditDriverSettings(const std::string&, std::string& name,
                            DataSourceAttributes& attributes) override
    {
        ++editCalls;
        shown = attributes;
        name = newName.value_or(name);
        attributes = edit.value_or(attributes);
        return edit.has_value(); // unset: Cancel
    }

    std::optional<std::string> choice;
    bool chooseSystem = false;
    std::optional<DataSourceAttributes> edit;
    std::optional<std::string> newName;

    int editCalls = 0;
    std::vector<std::string> offered;
    std::string preset;
    DataSourceAttributes shown;
};

class DataSourceSetup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteFileBytes(env.UserIni(), {});
        WriteFileBytes(env.SystemIni(), {});
        SetDefaultDatabaseFolder({});
    }

    auto User(const std::string& name) { return ReadSection(env.UserIni(), name); }
    auto System(const std::string& name) { return ReadSection(env.SystemIni(), name); }
    auto Files() { return ReadFileBytes(env.UserIni()) + "|" + ReadFileBytes(env.SystemIni()); }
    bool Connects(const std::string& name)
    {
        CDbAccess db;
        db.SetUserInterface(&ui);
        return db.DriverConnect("DSN=" + name) && db.Execute("CREATE TABLE Probe (x INT)");
    }

    OdbcTestEnv& env = SharedOdbcEnv();
    TempDir dir;
    ScriptedUi ui;
};

TEST_F(DataSourceSetup, CreatesThroughTheDriverSettingsInTheChosenScope)
{
    const std::string file = (dir / "halle.db").string();
    ui.choice = "SQLite3";
    ui.edit = DataSourceAttributes{{"Database", file}};
    std::string name = "Messhalle";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(name, "Messhalle");
    EXPECT_EQ(ui.preset, "");
    EXPECT_EQ(ui.offered, ListInstalledDrivers());
    EXPECT_EQ(ui.shown, DataSourceAttributes({{"Database", ""}}));
    EXPECT_EQ(User(name), Embedded(file));
    EXPECT_TRUE(Connects(name));

    ui.chooseSystem = true; // "jedermann"
    name = "Zentral";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(User(name), "");
    EXPECT_NE(System(name), "");
    EXPECT_TRUE(ui.m_messages.empty());

    // The default name gets an embedded database after two confirmations:
    // OK with no driver chosen, then OK on the proposal.
    SetDefaultDatabaseFolder((dir / "daten" / "Tessaro").string());
    const auto proposed = dir / "daten" / "Tessaro" / "Arveda Sensor Database.sqlite";
    ui.choice.reset();
    ui.chooseSystem = false;
    ui.edit = DataSourceAttributes{{"Database", proposed.string()}};
    name = kDefaultDataSourceName;
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.preset, "SQLite3");
    EXPECT_EQ(ui.shown, *ui.edit);
    EXPECT_TRUE(Connects(name));
    EXPECT_TRUE(std::filesystem::exists(proposed));
}

TEST_F(DataSourceSetup, FindsExactNamesUserBeforeSystemConfiguresInPlaceAndRecreates)
{
    env.AddDataSource("Bestand", "SQLite3", {{"Database", "/alt.db"}, {"Timeout", "2000"}});
    env.AddDataSource("Bestand", "PostgreSQL ANSI", {}, true);
    const std::string systemBefore = ReadFileBytes(env.SystemIni());
    EXPECT_FALSE(FindDataSource("Bestand").value().system);
    EXPECT_FALSE(FindDataSource("bestand"));
    EXPECT_FALSE(FindDataSource("Bestand "));
    ui.edit = DataSourceAttributes{{"Database", "/neu.db"}};
    std::string name = "Bestand";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.m_nDriverChoices, 0);
    EXPECT_EQ(ui.shown, DataSourceAttributes({{"Database", "/alt.db"}}));
    EXPECT_EQ(User(name), "Database=/neu.db;Driver=SQLite3;Timeout=2000");

    // Another driver: the old data source goes first, keywords and all.
    ui.choice = "PostgreSQL ANSI";
    ui.edit = DataSourceAttributes{
        {"Servername", "127.0.0.1"}, {"Port", "5432"}, {"Database", "mess"}, {"Password", ""}};
    ASSERT_TRUE(SetupDataSource(name, true, ui));
    EXPECT_EQ(ui.preset, "SQLite3");
    EXPECT_EQ(ui.shown.size(), 5u);
    EXPECT_EQ(User(name), "Database=mess;Driver=PostgreSQL ANSI;Fetch=10000;Port=5432;"
                          "Servername=127.0.0.1;UseDeclareFetch=1");

    // Cancelled after the removal, it stays removed.
    ui.choice.reset();
    ui.edit.reset();
    EXPECT_FALSE(SetupDataSource(name, true, ui));
    EXPECT_EQ(ui.preset, "PostgreSQL ANSI");
    EXPECT_EQ(User(name), "");
    EXPECT_EQ(ReadFileBytes(env.SystemIni()), systemBefore);
    EXPECT_TRUE(ui.m_messages.empty());
    const auto system = FindDataSource(name);
    ASSERT_TRUE(system);
    EXPECT_TRUE(system->system && system->driver == "PostgreSQL ANSI");

    // A driver we do not know shows all it holds; a Driver keyword is refused.
    env.AddDataSource("Fremd", "Fremdtreiber", {{"Host", "a"}, {"Mode", "b"}});
    ui.edit = DataSourceAttributes{{"Host", "c"}, {"Extra", "d"}};
    name = "Fremd";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.shown, DataSourceAttributes({{"Host", "a"}, {"Mode", "b"}}));
    EXPECT_EQ(User(name), "Driver=Fremdtreiber;Extra=d;Host=c");
    const std::string before = Files();
    ui.edit = DataSourceAttributes{{"Driver", "SQLite3"}};
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.m_messages.size(), 1u);
    EXPECT_EQ(Files(), before);
}

TEST_F(DataSourceSetup, ANameChangedInTheDialogIsTheNameAfterwards)
{
    env.AddDataSource("Alt", "SQLite3", {{"Database", "/a.db"}, {"Timeout", "2000"}});
    env.AddSqliteDataSource("Belegt", "/b.db");
    ui.edit = DataSourceAttributes{{"Database", "/a2.db"}};
    ui.newName = "Neu";
    std::string name = "Alt";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(name, "Neu");
    EXPECT_EQ(User("Alt"), "");
    EXPECT_EQ(User("Neu"), "Database=/a2.db;Driver=SQLite3;Timeout=2000");

    ui.choice = "SQLite3";
    ui.newName = "Final";
    name = "Entwurf";
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(name, "Final");
    EXPECT_EQ(User("Entwurf"), "");

    const std::string before = Files();
    ui.newName = "Belegt";
    name = "Neu";
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    EXPECT_EQ(name, "Neu");
    EXPECT_EQ(ui.m_messages.size(), 1u);
    EXPECT_EQ(Files(), before);
}

TEST_F(DataSourceSetup, CancelAndUnusableNamesChangeNothing)
{
    env.AddSqliteDataSource("Bestand", "/alt.db");
    const std::string before = Files();
    std::string name = "Neu";
    ui.choice = ""; // Cancel in the driver list
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.editCalls, 0);
    ui.choice = "SQLite3"; // Cancel in the settings
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    name = "Bestand";
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    EXPECT_EQ(ui.editCalls, 2);
    EXPECT_TRUE(ui.m_messages.empty());

    for (std::string bad :
         {"Halle#3", "", " Halle", "Halle;3", "Halle[3]", "Messstelle Nummer 123456789012345"})
    {
        ui.m_messages.clear();
        EXPECT_FALSE(SetupDataSource(bad, false, ui)) << bad;
        EXPECT_EQ(ui.m_messages.size(), 1u) << bad;
    }
    EXPECT_EQ(ui.m_nDriverChoices, 2);
    EXPECT_EQ(Files(), before);

    // 32 characters in more bytes are still a name.
    std::string umlauts = "Überwachung Kühlhaus Süd Ost äöü";
    ui.choice = "";
    ui.m_messages.clear();
    EXPECT_FALSE(SetupDataSource(umlauts, false, ui));
    EXPECT_TRUE(ui.m_messages.empty());
    EXPECT_EQ(ui.m_nDriverChoices, 3);
}

TEST_F(DataSourceSetup, ADriversOwnSetupRoutineIsUsedAndNeverSecondGuessed)
{
    const auto drivers = env.Folder() / "odbcinst.ini";
    if (ReadFileBytes(drivers).find("[Eigener Treiber]") == std::string::npos)
        WriteFileBytes(drivers, ReadFileBytes(drivers) +
                                    "\n[Eigener Treiber]\nDriver=x.so\nSetup=" + SETUP_STANDIN +
                                    "\n");
    setenv("TESSARO_SETUP_LOG", (dir / "setup.log").c_str(), 1);
    setenv("TESSARO_SETUP_ANSWER", "cancel", 1);
    ui.choice = "Eigener Treiber";
    std::string name = "Eigen";
    EXPECT_FALSE(SetupDataSource(name, false, ui));

    // Its dialog may create the data source under another name.
    setenv("TESSARO_SETUP_ANSWER", "add Umbenannt", 1);
    ASSERT_TRUE(SetupDataSource(name, false, ui));
    EXPECT_EQ(name, "Umbenannt");

    env.AddDataSource("System Eigen", "Eigener Treiber", {}, true);
    name = "System Eigen";
    setenv("TESSARO_SETUP_ANSWER", "cancel", 1);
    EXPECT_FALSE(SetupDataSource(name, false, ui));
    EXPECT_FALSE(SetupDataSource(name, true, ui));
    unsetenv("TESSARO_SETUP_ANSWER");
    EXPECT_EQ(ui.editCalls, 0);
    EXPECT_TRUE(ui.m_messages.empty());
    EXPECT_FALSE(FindDataSource(name));

    // Requests 1 add, 2 configure, 3 remove; modes 1 user, 2 system.
    EXPECT_EQ(ReadFileBytes(dir / "setup.log"),
              "request=1 mode=1 driver=Eigener Treiber [DSN=Eigen] [READONLY=FALSE]\n"
              "request=1 mode=1 driver=Eigener Treiber [DSN=Eigen] [READONLY=FALSE]\n"
              "request=2 mode=2 driver=Eigener Treiber [DSN=System Eigen]\n"
              "request=3 mode=2 driver=Eigener Treiber [DSN=System Eigen]\n"
              "request=1 mode=1 driver=Eigener Treiber [DSN=System Eigen] [READONLY=FALSE]\n");
}

TEST_F(DataSourceSetup, CreatesAnEmbeddedDataSourceWithoutAsking)
{
    std::string error;
    const auto file = dir / "neu" / "ordner" / "k.db";
    ASSERT_TRUE(CreateSqliteDataSource("Kommandozeile", file.string(), false, error)) << error;
    EXPECT_EQ(User("Kommandozeile"), Embedded(file.string()));
    EXPECT_TRUE(Connects("Kommandozeile"));
    {
        // A result read only in part (an export, a chart) does not hold up
        // a writer on another connection, which waits 1 ms at most here;
        // and every commit is synced.
        CDbAccess reader, writer;
        reader.SetUserInterface(&ui);
        writer.SetUserInterface(&ui);
        ASSERT_TRUE(reader.DriverConnect("DSN=Kommandozeile"));
        ASSERT_TRUE(writer.DriverConnect("DSN=Kommandozeile;Timeout=1"));
        ASSERT_TRUE(writer.Execute("INSERT INTO Probe VALUES (1)"));
        ASSERT_TRUE(writer.Execute("INSERT INTO Probe VALUES (2)"));
        ASSERT_TRUE(reader.Execute("SELECT x FROM Probe"));
        ASSERT_TRUE(reader.Fetch());
        EXPECT_TRUE(writer.Execute("INSERT INTO Probe VALUES (3)"));
        ASSERT_TRUE(writer.Execute("PRAGMA synchronous"));
        ASSERT_TRUE(writer.Fetch());
        EXPECT_EQ(writer.GetColumn(1), "2") << "FULL";
    }

    const std::string before = Files();
    EXPECT_FALSE(CreateSqliteDataSource("Kommandozeile", "/anders.db", false, error));
    EXPECT_NE(error.find("Kommandozeile"), std::string::npos);
    EXPECT_FALSE(CreateSqliteDataSource("a#b", "/x.db", false, error));
    EXPECT_EQ(Files(), before);

    // A relative file means the file where it is now, for every later run.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const bool created = CreateSqliteDataSource("Relativ", "rel/r.db", true, error);
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(created) << error;
    EXPECT_EQ(System("Relativ"), Embedded((dir / "rel" / "r.db").string()));
}

} // namespace
