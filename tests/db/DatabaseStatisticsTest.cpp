#include "db/DatabaseStatistics.h"

#include "db/DbTestSupport.h"
#include "db/SensorDatabase.h"
#include "sensors/OrbelDoc.h"

#include <gtest/gtest.h>

namespace
{

class DatabaseStatisticsTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_sdb.m_strDataSource = m_database.Dsn();
        ASSERT_TRUE(m_sdb.OpenDatabase(false));
        m_sdb.m_db.Close();
    }

    CSensor* List(const std::string& host, int port, int slot)
    {
        auto sensor = std::make_unique<CSensor>(MakeSensor(host, port, slot));
        m_list.m_rows.push_back(sensor.get());
        EXPECT_TRUE(m_document.AddSensor(sensor, false));
        return m_list.m_rows.back();
    }

    void Exec(const std::string& sql) { RawOdbc("DSN=" + m_database.Dsn()).Exec(sql); }

    TestDatabase m_database{GetParam()};
    RecordingUi m_ui;
    CSensorDatabase m_sdb{m_ui};
    COrbelDoc m_document;
    TestSensorList m_list{m_sdb};
    CDatabaseStatistics m_statistics{m_sdb, m_document, m_list};
    const FakeClock m_clock{{2024, 3, 1, 0, 0, 30}};
};

TEST_P(DatabaseStatisticsTest, CountsAllValidAndTodaysReadingsPerListedSensor)
{
    Exec("INSERT INTO Sensors VALUES (1, 'Dach.example', 65616, 2, 'hPa', 'Dach')");
    Exec("INSERT INTO Sensors VALUES (2, 'keller.example', 80, 1, '', '')");
    Exec("INSERT INTO Sensors VALUES (3, 'alt.example', 80, 1, '', '')");
    Exec("INSERT INTO Sensors VALUES (4, 'alt.example', 80, 1, '', '')");
    for (const char* row :
         {"1.5, {d '2024-03-01'}, {t '00:00:01'}, 1", "NULL, {d '2024-03-01'}, {t '00:00:02'}, 1",
          "2.5, {d '2024-02-29'}, {t '23:59:59'}, 1", "NULL, {d '2024-02-29'}, {t '12:00:00'}, 1",
          "7.0, {d '2024-03-01'}, {t '00:00:05'}, 3", "8.0, {d '2024-03-01'}, {t '00:00:05'}, 4"})
        Exec(std::string("INSERT INTO Recording VALUES (") + row + ")");

    // Letter case of the host and a port stored past 16 bits still match.
    CSensor* roof = List("dach.EXAMPLE", 80, 2);
    CSensor* cellar = List("keller.example", 80, 1);
    CSensor* unknown = List("keller.example", 80, 2);
    CSensor* old = List("alt.example", 80, 1);
    unknown->m_strStatus = "verbunden";

    EXPECT_TRUE(m_statistics.OnDatabaseStatistics());
    // NULL readings count in the first number only; two rows of one point:
    // the later one is the sensor's.
    EXPECT_EQ(m_list.m_cells, (std::vector<std::string>{"4 Werte, 2 gültig, 1 von heute",
                                                        "0 Werte, 0 gültig, 0 von heute", "",
                                                        "1 Werte, 1 gültig, 1 von heute"}));
    EXPECT_EQ(roof->m_strStatus, m_list.m_cells[0]);
    EXPECT_EQ(unknown->m_strStatus, "");
    EXPECT_EQ(old->m_nDbId, 4);
    EXPECT_EQ(cellar->m_nDbId, 2);
    EXPECT_EQ(m_list.m_statusTexts, (std::vector<unsigned>{331, 57345}));
    // Nothing new to import; the connection it opened is closed again.
    EXPECT_EQ(m_document.m_sensors.size(), 4u);
    EXPECT_FALSE(m_document.IsModified());
    EXPECT_EQ(m_list.m_nOpens, 1);
    EXPECT_FALSE(m_sdb.m_db.IsOpen());
}

TEST_P(DatabaseStatisticsTest, ImportAddsUnlistedPointsOnceAndFailingCountsStayZero)
{
    Exec("INSERT INTO Sensors VALUES (1, 'A.example', 80, 1, 'x', 'schon da')");
    Exec("INSERT INTO Sensors VALUES (2, 'b.example', 65616, 3, 'hPa', 'Dach\tNord')");
    Exec("INSERT INTO Sensors VALUES (3, 'b.example', 80, 3, 'hPa', 'doppelt')");
    List("a.EXAMPLE", 80, 1);
    m_list.m_selected = {"a.EXAMPLE"};

    EXPECT_TRUE(m_statistics.OnImportSensors());
    // The port wraps to 16 bits, a second row of one point is refused, and
    // a TAB inside a text would split the configuration line.
    EXPECT_EQ(m_document.m_sensors.back()->FormatLine(),
              "b.example\t80\t3\t1\thPa\tDach Nord\t0x00");
    EXPECT_EQ(m_list.m_selected, std::vector<std::string>{"b.example"});
    EXPECT_EQ(m_document.m_sensors.size(), 2u);
    EXPECT_TRUE(m_document.IsModified());
    // Again: nothing new, but the selection is still cleared.
    m_document.SetModifiedFlag(false);
    EXPECT_TRUE(m_statistics.OnImportSensors());
    EXPECT_EQ(m_document.m_sensors.size(), 2u);
    EXPECT_TRUE(m_list.m_selected.empty());
    EXPECT_FALSE(m_document.IsModified());

    // On an open connection every failing count stays 0, and the
    // connection stays open.
    CSensor* listed = m_document.m_sensors.front().get();
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    Exec("DROP TABLE Recording");
    EXPECT_TRUE(m_statistics.OnDatabaseStatistics());
    EXPECT_EQ(listed->m_strStatus, "0 Werte, 0 gültig, 0 von heute");
    EXPECT_EQ(m_ui.m_errors.size(), 3u);
    EXPECT_TRUE(m_sdb.m_db.IsOpen());
    // Without the sensor table nothing is known, so nothing is written.
    Exec("DROP TABLE Sensors");
    listed->m_strStatus = "alt";
    EXPECT_FALSE(m_statistics.OnDatabaseStatistics());
    EXPECT_EQ(listed->m_strStatus, "alt");
    EXPECT_EQ(m_list.m_nOpens, 2) << "the imports' own";
}

INSTANTIATE_FOR_BOTH_DRIVERS(DatabaseStatisticsTest);

} // namespace
