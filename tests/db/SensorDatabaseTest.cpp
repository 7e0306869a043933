#include "db/SensorDatabase.h"

#include "db/DbTestSupport.h"
#include "db/ReadingWriter.h"
#include "sensors/Sensor.h"

#include <gtest/gtest.h>

namespace
{

class SensorDatabaseTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override { m_sdb.m_strDataSource = m_database.Dsn(); }

    RawOdbc Raw() const { return RawOdbc("DSN=" + m_database.Dsn()); }
    size_t RowCount(const std::string& table) const
    {
        return Raw().Query("SELECT * FROM " + table).size();
    }

    TestDatabase m_database{GetParam()};
    RecordingUi m_ui;
    CSensorDatabase m_sdb{m_ui};
};

const std::vector<std::string> kBothTables = {"Sensors", "Recording"};

TEST_P(SensorDatabaseTest, OpeningAsksForALoginWhenToldAndCreatesMissingTablesOnlyOnce)
{
    m_sdb.m_bQuickConnect = false;
    m_sdb.m_strUserName = "remembered";
    ASSERT_FALSE(m_sdb.OpenDatabase(false)) << "login cancelled";
    EXPECT_FALSE(m_sdb.m_db.IsOpen());
    ASSERT_EQ(m_ui.m_loginsShown.size(), 1u);
    EXPECT_EQ(m_ui.m_loginsShown[0], std::make_pair(std::string("remembered"), std::string()));
    // An empty user name connects with what the data source holds.
    m_ui.m_login = std::make_pair(std::string(), std::string("typed"));
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_EQ(m_sdb.m_strUserName, "");
    EXPECT_EQ(m_sdb.m_strPassword, "typed");

    EXPECT_EQ(m_sdb.CreatedTables(), kBothTables);
    EXPECT_STREQ(m_sdb.m_pszSensorsTable, "Sensors");
    EXPECT_STREQ(m_sdb.m_pszRecordingTable, "Recording");
    m_sdb.m_db.Close();
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_TRUE(m_sdb.CreatedTables().empty());
    // Opening while open starts over on a new connection.
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_TRUE(m_sdb.CreatedTables().empty());
    ASSERT_EQ(m_ui.m_loginsShown.size(), 4u);
    EXPECT_EQ(m_ui.m_loginsShown[3], std::make_pair(std::string(), std::string("typed")));
    EXPECT_TRUE(m_ui.m_errors.empty());
    EXPECT_TRUE(m_ui.m_messages.empty());
}

TEST_P(SensorDatabaseTest, ExistingTablesCountWhateverTheirLetterCase)
{
    // Unquoted, the server folds this name to lower case; the embedded
    // driver keeps it as written.
    Raw().Exec("CREATE TABLE SENSORS (SensorID INT, Host VARCHAR(64), Port INT, Slot INT, Unit "
               "VARCHAR(32), Location VARCHAR(80))");
    Raw().Exec("INSERT INTO SENSORS VALUES (5, 'kept.example', 80, 1, 'hPa', 'Dach')");
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_EQ(m_sdb.CreatedTables(), std::vector<std::string>{"Recording"});
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("kept.example", 80, 1)), 5);
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("new.example", 80, 1)), 6);

    TestDatabase other(GetParam());
    RawOdbc("DSN=" + other.Dsn())
        .Exec("CREATE TABLE recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
    m_sdb.m_strDataSource = other.Dsn();
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_EQ(m_sdb.CreatedTables(), std::vector<std::string>{"Sensors"});
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_P(SensorDatabaseTest, SensorsAreNumberedByPointAndKeepTheirNumber)
{
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    // Numbers start at 1, also beside rows numbered by someone else below it.
    Raw().Exec("INSERT INTO Sensors VALUES (-3, 'foreign.example', 80, 0, '', '')");
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("10.0.0.1", 80, 0, "°C", "Keller")), 1);
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("10.0.0.1", 80, 1)), 2);
    Raw().Exec("INSERT INTO Sensors VALUES (7, 'gap.example', 80, 0, '', '')");
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("10.0.0.1", 8080, 0)), 8) << "other port";
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("10.0.0.2", 80, 0)), 9) << "other host";

    // Unit and description do not make a point; they follow the latest.
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("10.0.0.1", 80, 0, "%rF", "Dachboden")), 1);
    const auto rows = Raw().Query("SELECT Unit, Location FROM Sensors WHERE SensorID = 1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "%rF");
    EXPECT_EQ(rows[0][1], "Dachboden");
    EXPECT_EQ(RowCount("Sensors"), 6u);
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_P(SensorDatabaseTest, StatementsAreWrittenExactlyAndStoreWhatWasGiven)
{
    const FakeClock clock({2005, 3, 7, 9, 5, 3});
    const StatementTrace trace;
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    // (The trace keeps 128 bytes of a statement.)
    ASSERT_EQ(m_sdb.RegisterSensor(MakeSensor("o'brien.example", 8080, 2, "°C", "Keller")), 1);
    ASSERT_EQ(m_sdb.RegisterSensor(MakeSensor("o'brien.example", 8080, 2, "it's", "');--")), 1);
    // Six decimals of the single-precision value: 21.3f is 21.2999992...
    ASSERT_TRUE(m_sdb.StoreReading(3, 21.3f));
    ASSERT_TRUE(m_sdb.StoreReading(4, -5.25f));
    ASSERT_TRUE(m_sdb.StoreMissingReading(3));

    // The program's statements, registration inside the database's own
    // serialisation: SQLite's write lock, PostgreSQL's table lock (whose
    // transaction the driver begins and ends without a statement).
    const bool sqlite = GetParam() == Backend::Sqlite;
    const std::string lock =
        sqlite ? "BEGIN IMMEDIATE" : "LOCK TABLE Sensors IN SHARE ROW EXCLUSIVE MODE";
    const std::string lookup =
        "SELECT SensorID FROM Sensors WHERE Host='o''brien.example' AND Port=8080 AND Slot=2";
    const std::string reading =
        "INSERT INTO Recording (Reading, Calendar, Clock, SensorID) VALUES ( ";
    const std::string at = ", {d '2005-03-07'}, {t '09:05:03'}, ";
    std::vector<std::string> expected = {
        "CREATE TABLE Sensors (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, Unit "
        "VARCHAR( 32 ), Location VARCHAR( 80 ))",
        "CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)",
        lock,
        lookup,
        "SELECT MAX( SensorID ) FROM Sensors",
        "INSERT INTO Sensors (SensorID, Host, Port, Slot, Unit, Location) VALUES ( 1, "
        "'o''brien.example', 8080, 2, '°C', 'Keller' )",
        "COMMIT",
        lock,
        lookup,
        "UPDATE Sensors SET Unit='it''s', Location=''');--' WHERE SensorID=1",
        "COMMIT",
        reading + "21.299999" + at + "3 )",
        reading + "-5.250000" + at + "4 )",
        reading + "NULL" + at + "3 )",
    };
    if (!sqlite)
        std::erase(expected, "COMMIT");
    EXPECT_EQ(trace.Statements(), expected);

    // The database took the texts as typed, and the values, dates and times
    // as such.
    using Rows = std::vector<RawOdbc::Row>;
    EXPECT_EQ(Raw().Query("SELECT Host, Unit, Location FROM Sensors"),
              (Rows{{"o'brien.example", "it's", "');--"}}));
    EXPECT_EQ(Raw().Query("SELECT Reading, Calendar, Clock FROM Recording ORDER BY SensorID, "
                          "COALESCE(Reading, -1)"),
              (Rows{{std::nullopt, "2005-03-07", "09:05:03"},
                    {"21.299999", "2005-03-07", "09:05:03"},
                    {"-5.25", "2005-03-07", "09:05:03"}}));
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_P(SensorDatabaseTest, FailingStatementsGiveMinusOneOrFalse)
{
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    ASSERT_EQ(m_sdb.RegisterSensor(MakeSensor("a.example", 80, 0)), 1);

    // Refusing updates leaves registration working and silent.
    Raw().Exec(GetParam() == Backend::Sqlite
                   ? "CREATE TRIGGER refuse BEFORE UPDATE ON Sensors BEGIN SELECT RAISE(ABORT, "
                     "'refused'); END"
                   : "CREATE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION "
                     "'refused'; END $$ LANGUAGE plpgsql; CREATE TRIGGER refuse BEFORE UPDATE "
                     "ON Sensors FOR EACH ROW EXECUTE FUNCTION refuse()");
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("a.example", 80, 0, "new unit")), 1);
    EXPECT_TRUE(m_ui.m_errors.empty());
    EXPECT_FALSE(m_sdb.m_db.m_bQuiet);
    EXPECT_EQ(Raw().Query("SELECT Unit FROM Sensors")[0][0], "°C");

    // No next number beyond the largest INT: refused, nothing inserted.
    Raw().Exec("INSERT INTO Sensors VALUES (2147483647, 'top.example', 80, 0, '', '')");
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("b.example", 80, 0)), -1);
    EXPECT_EQ(RowCount("Sensors"), 2u);

    Raw().Exec("DROP TABLE Recording");
    EXPECT_FALSE(m_sdb.StoreReading(1, 1.0f));
    EXPECT_FALSE(m_sdb.StoreMissingReading(1));
    EXPECT_EQ(m_ui.m_errors.size(), 2u);
    Raw().Exec("DROP TABLE Sensors");
    EXPECT_EQ(m_sdb.RegisterSensor(MakeSensor("a.example", 80, 0)), -1);
    EXPECT_EQ(m_ui.m_errors.size(), 3u);
}

TEST_P(SensorDatabaseTest, RowsOfATickInDoubtAreStoredOnlyWhereTheyAreMissing)
{
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    // An earlier attempt stored sensor 2 of this tick, and sensor 1 a minute
    // before; the answer to that attempt never came.
    Raw().Exec("INSERT INTO Recording VALUES (1.0, {d '2026-03-07'}, {t '10:05:01'}, 2)");
    Raw().Exec("INSERT INTO Recording VALUES (1.0, {d '2026-03-07'}, {t '10:04:01'}, 1)");
    CTick tick;
    tick.m_time = {2026, 3, 7, 10, 5, 1};
    tick.m_rows = {{1, "1.500000"}, {2, "2.500000"}, {3, "NULL"}};
    tick.m_bInDoubt = true;
    CReadingWriter writer(m_sdb.m_db, "Recording");
    const CWriteResult result = writer.Write({tick}, [] { return true; });
    EXPECT_EQ(result.m_outcomes[0],
              (std::vector<RowOutcome>{RowOutcome::Stored, RowOutcome::AlreadyStored,
                                       RowOutcome::Stored}));
    EXPECT_EQ(Raw().Query("SELECT SensorID FROM Recording WHERE Clock={t '10:05:01'}").size(), 3u);
    EXPECT_EQ(RowCount("Recording"), 4u);
}

INSTANTIATE_FOR_BOTH_DRIVERS(SensorDatabaseTest);

} // namespace
