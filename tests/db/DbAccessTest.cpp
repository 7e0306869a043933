#include "db/DbAccess.h"

#include "common/PgServer.h"
#include "db/DbTestSupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sqlext.h>

namespace
{

class DbAccessTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_db.SetUserInterface(&m_ui);
        ASSERT_TRUE(m_db.DriverConnect("DSN=" + m_database.Dsn()));
    }

    TestDatabase m_database{GetParam()};
    RecordingUi m_ui;
    CDbAccess m_db;
};

TEST_P(DbAccessTest, ColumnsReadAsRightTrimmedTextOncePerRowAndTablesAsListed)
{
    RawOdbc raw("DSN=" + m_database.Dsn());
    raw.Exec("CREATE TABLE cols (id INT, name VARCHAR(40), amount FLOAT, note VARCHAR(9000), "
             "counter INT)");
    raw.Exec("INSERT INTO cols VALUES (1, '  padded  ', 2.5, NULL, NULL)");
    raw.Exec("INSERT INTO cols VALUES (2, 'ends\t\r\n ', -1, '" + std::string(9000, 'a') + "', 0)");

    ASSERT_TRUE(m_db.Execute("SELECT id, name, amount, note, counter FROM cols ORDER BY id"));
    ASSERT_TRUE(m_db.Fetch());
    EXPECT_EQ(m_db.GetColumn(1), "1");
    EXPECT_EQ(m_db.GetColumn(2), "  padded");
    // Both drivers hand a column's text out once per row (the next read
    // gives SQL_NO_DATA), so a second read must come from the kept row.
    EXPECT_EQ(m_db.GetColumn(2), "  padded");
    EXPECT_EQ(m_db.GetColumn(3), "2.5");
    EXPECT_EQ(m_db.GetColumn(4), "") << "NULL text";
    EXPECT_EQ(m_db.GetColumn(5), "") << "NULL number, not 0";
    EXPECT_EQ(m_db.GetColumn(42), "") << "no such column";

    ASSERT_TRUE(m_db.Fetch());
    EXPECT_EQ(m_db.GetColumn(2), "ends") << "the previous row's text must not be reused";
    EXPECT_EQ(m_db.GetColumn(4), std::string(8191, 'a'));
    EXPECT_EQ(m_db.GetColumn(5), "0");

    EXPECT_FALSE(m_db.Fetch());
    EXPECT_FALSE(m_db.Fetch());

    // The catalogue lists tables, not views, in column three.
    raw.Exec("CREATE TABLE second_table (a INT)");
    raw.Exec("CREATE VIEW some_view AS SELECT a FROM second_table");
    ASSERT_TRUE(m_db.ListTables());
    std::vector<std::string> names;
    while (m_db.Fetch())
        names.push_back(m_db.GetColumn(3));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cols", "second_table"}));
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_P(DbAccessTest, FailuresAreReportedOnceUnlessQuietAndCancelIsRemembered)
{
    // The text shown holds the driver's messages, one record a line; the
    // statement was sent once.
    const std::string failing = "SELECT no_such_column FROM no_such_table";
    const std::vector<std::string> records =
        RawOdbc("DSN=" + m_database.Dsn()).FailingExec(failing);
    ASSERT_FALSE(records.empty());
    std::string expected;
    for (const std::string& record : records)
        expected += (expected.empty() ? "" : "\n") + record;
    {
        const StatementTrace trace;
        ASSERT_FALSE(m_db.Execute(failing));
        const std::vector<std::string> sent = trace.Statements();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), failing), 1);
    }
    EXPECT_EQ(m_ui.m_errors, std::vector<std::string>{expected});
    EXPECT_EQ(m_db.GetDiagnosticText(SQL_HANDLE_STMT), expected);
    EXPECT_EQ(m_db.GetDiagnosticText(SQL_HANDLE_DBC), "") << "the connection itself is fine";
    EXPECT_FALSE(m_db.m_bCancelled);
    EXPECT_TRUE(m_db.IsOpen());

    m_db.m_bQuiet = true;
    EXPECT_FALSE(m_db.Execute("SELECT * FROM no_such_table"));
    EXPECT_EQ(m_ui.m_errors.size(), 1u);
    EXPECT_TRUE(m_db.m_bQuiet);
    m_db.m_bQuiet = false;

    m_ui.m_bCancelErrors = true;
    EXPECT_FALSE(m_db.Execute("SELECT * FROM no_such_table"));
    EXPECT_EQ(m_ui.m_errors.size(), 2u);
    EXPECT_TRUE(m_db.m_bCancelled);
    // Only the one who acts on it clears it.
    m_ui.m_bCancelErrors = false;
    EXPECT_TRUE(m_db.Execute("CREATE TABLE t (a INT)"));
    EXPECT_FALSE(m_db.Execute("SELECT * FROM no_such_table"));
    EXPECT_TRUE(m_db.m_bCancelled);
    EXPECT_EQ(m_ui.m_errors.size(), 3u);

    // A statement after a failed one runs normally.
    ASSERT_TRUE(m_db.Execute("SELECT a FROM t"));
    EXPECT_FALSE(m_db.Fetch());
    EXPECT_EQ(m_ui.m_errors.size(), 3u);

    // A message that does not fit the 512-byte message buffer: the driver
    // manager says so with SQL_SUCCESS_WITH_INFO, which ends the list, so
    // the embedded driver's failure shows nothing; the server's driver
    // hands it out in pieces of 511 bytes, one record each, one line each.
    const std::string longName(1200, 'x');
    const bool embedded = GetParam() == Backend::Sqlite;
    const std::string tooLong =
        embedded ? "SELECT " + longName + "()" : "SELECT CAST('" + longName + "' AS INT)";
    const std::vector<std::string> longRecords =
        RawOdbc("DSN=" + m_database.Dsn()).FailingExec(tooLong);
    ASSERT_EQ(longRecords.size(), 1u);
    const std::string& message = longRecords[0];
    ASSERT_GT(message.size(), embedded ? 511u : 2 * 511u);
    ASSERT_LE(message.size(), 3 * 511u);
    EXPECT_FALSE(m_db.Execute(tooLong));
    ASSERT_EQ(m_ui.m_errors.size(), embedded ? 3u : 4u);
    if (!embedded)
    {
        EXPECT_EQ(m_ui.m_errors[3], message.substr(0, 511) + '\n' + message.substr(511, 511) +
                                        '\n' + message.substr(1022));
    }
}

TEST_P(DbAccessTest, ClosedObjectReportsEveryStatement)
{
    m_db.Close();
    EXPECT_FALSE(m_db.IsOpen());
    // A statement with nowhere to run is a failure someone hears of.
    EXPECT_FALSE(m_db.Execute("SELECT 1"));
    EXPECT_FALSE(m_db.ListTables());
    EXPECT_EQ(m_ui.m_errors, std::vector<std::string>(2, std::string(kStrNotConnected)));
    m_ui.m_errors.clear();
    EXPECT_FALSE(m_db.Fetch());
    EXPECT_EQ(m_db.GetColumn(1), "");
    EXPECT_EQ(m_db.GetDbmsName(), "");
    EXPECT_TRUE(m_ui.m_errors.empty());

    // A connect on an open object closes the old connection first, also
    // when the new one fails: here for a driver that was uninstalled, which
    // the driver manager names.
    const std::string orphan = "Orphaned Source " + BackendName(GetParam());
    TestOdbcEnv().AddDriver("Uninstalled Driver", "/nonexistent/libuninstalled.so");
    TestOdbcEnv().AddDataSource(orphan, "Uninstalled Driver", {{"Database", "/tmp/x"}});
    for (const bool byName : {true, false})
    {
        ASSERT_TRUE(m_db.Connect(m_database.Dsn()));
        EXPECT_EQ(m_db.GetDbmsName(), BackendName(GetParam())) << "as the driver names it";
        EXPECT_FALSE(byName ? m_db.Connect(orphan) : m_db.DriverConnect("DSN=" + orphan));
        EXPECT_FALSE(m_db.IsOpen());
        ASSERT_EQ(m_ui.m_errors.size(), 1u);
        EXPECT_NE(m_ui.m_errors[0].find("/nonexistent/libuninstalled.so"), std::string::npos);
        EXPECT_FALSE(m_db.Execute("SELECT 1"));
        EXPECT_EQ(m_ui.m_errors.size(), 2u);
        m_ui.m_errors.clear();
    }
}

INSTANTIATE_FOR_BOTH_DRIVERS(DbAccessTest);

// The embedded driver steps through results: in the rollback journal mode
// of older data sources, a result not read to its end holds a lock that
// keeps writers on other connections waiting (here for 1 ms at most).
TEST(DbAccessLockTest, AResultReadToItsEndOrClosedHoldsUpNoWriter)
{
    const TestDatabase database(Backend::Sqlite);
    RecordingUi ui;
    CDbAccess reader, writer;
    reader.SetUserInterface(&ui);
    writer.SetUserInterface(&ui);
    ASSERT_TRUE(reader.DriverConnect("DSN=" + database.Dsn()));
    ASSERT_TRUE(writer.DriverConnect("DSN=" + database.Dsn() + ";Timeout=1"));
    ASSERT_TRUE(writer.Execute("CREATE TABLE t (a INT)"));
    ASSERT_TRUE(writer.Execute("INSERT INTO t VALUES (1), (2), (3)"));
    writer.m_bQuiet = true;
    const auto writes = [&] { return writer.Execute("INSERT INTO t VALUES (4)"); };
    ASSERT_TRUE(reader.Execute("SELECT a FROM t"));
    ASSERT_TRUE(reader.Fetch());
    ASSERT_FALSE(writes()) << "an open result holds no lock here: this test shows nothing";

    const std::function<void()> reads[] = {
        [&]
        {
            ASSERT_TRUE(reader.Fetch());
            reader.CloseCursor();
            EXPECT_FALSE(reader.Fetch());
        },
        [&]
        {
            while (reader.Fetch())
            {
            }
        },
        [&]
        {
            int rows = 0;
            EXPECT_FALSE(reader.ReadRows([&](SQLHSTMT) { return ++rows < 2; }));
            EXPECT_EQ(rows, 2);
        },
    };
    for (size_t read = 0; read < std::size(reads); ++read)
    {
        ASSERT_TRUE(reader.Execute("SELECT a FROM t"));
        reads[read]();
        EXPECT_TRUE(writes()) << "read " << read;
    }
    EXPECT_TRUE(ui.m_errors.empty());
}

TEST(DbAccessConnectTest, CredentialsGoAlongOnlyWithAUserName)
{
    PgServer& server = PgServer::Shared();
    server.CreatePasswordUser("keeper", "right");
    TestOdbcEnv().AddPostgresDataSource("Stored Credentials", server.Port(),
                                        server.CreateDatabase(), "keeper", false, "right");

    RecordingUi ui;
    CDbAccess db;
    db.SetUserInterface(&ui);
    // Without a user name the data source's own account applies; the typed
    // password, wrong for it, must not be sent.
    db.SetUserName("");
    db.SetPassword("wrong");
    EXPECT_TRUE(db.Connect("Stored Credentials"));
    EXPECT_TRUE(ui.m_errors.empty());

    db.SetUserName("keeper");
    EXPECT_FALSE(db.Connect("Stored Credentials"));
    EXPECT_FALSE(db.IsOpen());
    ASSERT_EQ(ui.m_errors.size(), 1u);
    EXPECT_NE(ui.m_errors[0].find("keeper"), std::string::npos) << ui.m_errors[0];

    db.SetPassword("right");
    EXPECT_TRUE(db.Connect("Stored Credentials"));
    EXPECT_EQ(ui.m_errors.size(), 1u);
}

} // namespace
