#include "common/ScanSimulator.h"
#include "desktop/DesktopTestSupport.h"

namespace
{

// What the list shows at each paint while a scan runs: rows, status text
// and whether the wait cursor is up.
class CPaintLog : public QObject
{
public:
    CPaintLog(COrbelView& view, QLabel* pane) : m_view(view), m_pane(pane)
    {
        view.viewport()->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_seen.push_back({m_view.topLevelItemCount(), m_pane->text(),
                              QGuiApplication::overrideCursor() != nullptr});
        return false;
    }

    std::vector<std::tuple<int, QString, bool>> m_seen;

private:
    COrbelView& m_view;
    QLabel* m_pane;
};

using ScanNetworkTest = DesktopTest;

TEST_F(ScanNetworkTest, AddsRowsWhileItRunsNoPointTwiceAndSaysWhenNothingCouldBeSent)
{
    // Device 0 answers the broadcast twice and at once; device 1 takes its time.
    ScanSimulator sim(
        {"delay=20,announce=2 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;", "delay=800 3.5V"});
    ASSERT_TRUE(sim.Ready());
    const std::string port = std::to_string(sim.QueryPort());
    // The configuration knows slot 2 of device 0 already.
    OpenFrame("ZELD1\r\n127.0.0.1\t" + port + "\t2\t5\trH\tAlt\t0x00\r\n", "known.cfg");
    View().m_nScanBroadcast = ScanSimulator::BroadcastAddress();
    View().m_nScanDiscoveryPort = sim.DiscoveryPort();
    View().m_nScanQueryPort = sim.QueryPort();
    CPaintLog log(View(), MessagePane());
    CModalWatcher watcher;

    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(Column(1), QStringList({"127.0.0.1", "127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(Column(3), QStringList({"2", "0", "0"}));
    EXPECT_EQ(Column(4), QStringList({"rH", "\302\260C", "V"}));
    EXPECT_EQ(Column(5), QStringList({"5 min", "1 min", "1 min"}));
    EXPECT_EQ(Column(6), QStringList({"Alt", "Lager", ""}));
    EXPECT_EQ(Column(2), QStringList(3, QString::fromStdString(port)));
    EXPECT_EQ(Frame().GetDocument().m_sensors.size(), 3u);
    EXPECT_TRUE(Frame().GetDocument().IsModified());
    EXPECT_TRUE(View().selectedItems().isEmpty());
    EXPECT_EQ(sim.Connections(), (std::vector<long>{2, 1}));
    // Device 0's row was drawn before device 1 answered, under the wait
    // cursor and the scan's status text.
    EXPECT_NE(std::find(log.m_seen.begin(), log.m_seen.end(),
                        std::tuple(2, QStringLiteral("Nach Sensorgeräten suchen..."), true)),
              log.m_seen.end());

    // A second scan, from the list's menu for no selection, finds the same
    // devices, adds nothing and has nothing to say.
    Frame().GetDocument().SetModifiedFlag(false);
    Frame().OnCommand(ID_SCAN_NETWORK);
    EXPECT_EQ(Frame().GetDocument().m_sensors.size(), 3u);
    EXPECT_EQ(sim.Connections(), (std::vector<long>{4, 2}));
    EXPECT_EQ(watcher.Count(), 0);

    // No datagram leaves for port 0: the box names the reason.
    View().m_nScanDiscoveryPort = 0;
    Frame().OnCommand(ID_SCAN_NETWORK);
    EXPECT_EQ(watcher.Texts(), QStringList({"Die Suchanfrage nach Sensorgeräten konnte in kein "
                                            "Netzwerk gesendet werden:\n[10022] ungültiger "
                                            "Parameter"}));
    EXPECT_EQ(View().topLevelItemCount(), 3);
    EXPECT_FALSE(Frame().GetDocument().IsModified());
    EXPECT_EQ(MessagePane()->text(), "Bereit");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
