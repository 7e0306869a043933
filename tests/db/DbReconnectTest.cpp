#include "common/PgServer.h"
#include "db/DbAccess.h"
#include "db/DbTestSupport.h"

#include <gtest/gtest.h>

namespace
{

TEST(DbReconnectTest, AStatementTheServerCutOffRunsOnceMoreOnAFreshConnection)
{
    PgServer server; // of its own: it is stopped, started and restarted here
    const std::string database = server.CreateDatabase();
    server.CreatePasswordUser("restarter", "secret");
    server.Psql("CREATE TABLE Readings (Value INT); GRANT SELECT, INSERT ON Readings TO restarter",
                database);
    TestOdbcEnv().AddPostgresDataSource("Restarting", server.Port(), database, PgServer::User());

    RecordingUi ui;
    CDbAccess db;
    db.SetUserInterface(&ui);
    // Typed credentials, which the data source does not hold, go along again.
    db.SetUserName("restarter");
    db.SetPassword("secret");
    ASSERT_TRUE(db.Connect("Restarting"));
    ASSERT_TRUE(db.Execute("INSERT INTO Readings VALUES (1)"));

    server.Restart();
    EXPECT_TRUE(db.Execute("INSERT INTO Readings VALUES (2)"));
    EXPECT_TRUE(ui.m_errors.empty());

    // With the server away: what ended the session, then why no new
    // connection came about.
    server.Stop();
    EXPECT_FALSE(db.Execute("INSERT INTO Readings VALUES (3)"));
    ASSERT_EQ(ui.m_errors.size(), 1u);
    EXPECT_NE(ui.m_errors[0].find("terminating connection"), std::string::npos) << ui.m_errors[0];
    EXPECT_NE(ui.m_errors[0].find("Connection refused"), std::string::npos) << ui.m_errors[0];
    // Every later statement tries once more, quietly where it should be.
    db.m_bQuiet = true;
    EXPECT_FALSE(db.Execute("INSERT INTO Readings VALUES (4)"));
    db.m_bQuiet = false;
    EXPECT_EQ(ui.m_errors.size(), 1u);
    ui.m_bCancelErrors = true;
    EXPECT_FALSE(db.Execute("INSERT INTO Readings VALUES (5)"));
    ASSERT_EQ(ui.m_errors.size(), 2u);
    EXPECT_NE(ui.m_errors[1].find("Connection refused"), std::string::npos) << ui.m_errors[1];
    EXPECT_TRUE(db.m_bCancelled);

    server.Start();
    EXPECT_TRUE(db.Execute("INSERT INTO Readings VALUES (6)"));
    ASSERT_TRUE(db.Execute("SELECT COUNT(*) FROM Readings"));
    ASSERT_TRUE(db.Fetch());
    EXPECT_EQ(db.GetColumn(1), "3");
    EXPECT_EQ(ui.m_errors.size(), 2u);
    // Each statement that succeeded left its row exactly once.
    EXPECT_EQ(server.Psql("SELECT Value FROM Readings ORDER BY Value", database), "1\n2\n6\n");

    // A server that stops answering: the call ends after the program's own
    // bound as a lost connection, said once, and the next one after the
    // server is back opens a fresh connection. (The statement sent into the
    // stalled server may still be carried out when it comes back.)
    db.SetTimeout(1);
    EXPECT_TRUE(EndsWhileSuspended(
        server, [&] { EXPECT_FALSE(db.Execute("INSERT INTO Readings VALUES (7)")); }));
    ASSERT_EQ(ui.m_errors.size(), 3u);
    EXPECT_EQ(ui.m_errors[2], NoAnswerText(1));
    EXPECT_TRUE(db.IsLost());
    EXPECT_TRUE(db.LastFailureWasTemporary());
    EXPECT_TRUE(db.Execute("INSERT INTO Readings VALUES (8)"));
    EXPECT_EQ(server.Psql("SELECT COUNT(*) FROM Readings WHERE Value = 8", database), "1\n");

    // A connection closed on purpose is not opened again behind the caller's back.
    db.Close();
    server.Restart();
    EXPECT_FALSE(db.Execute("INSERT INTO Readings VALUES (9)"));
    EXPECT_FALSE(db.IsOpen());
}

} // namespace
