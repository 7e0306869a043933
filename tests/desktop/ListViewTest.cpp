#include "ui/CommandTable.h"
#include "desktop/DesktopTestSupport.h"
#include "sensors/OrbelDoc.h"
#include "settings/Settings.h"
#include "ui/UiTestSupport.h"
#include "ui/WidgetTestSupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QUrl>

// Receives what the program hands to the desktop's web browser.
class CUrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> m_urls;

public slots:
    void Open(const QUrl& url) { m_urls.append(url); }
};

namespace
{

const std::string kFourSensors = "ZELD1\r\n"
                                 "beta\t8080\t2\t5\t°C\tmitte\t0x00\r\n"
                                 "Alpha\t80\t1\t1\t%\tzuletzt\t0x01\r\n"
                                 "gamma\t81\t0\t60\tkWh\tAnfang\t0x00\r\n"
                                 "delta\t443\t3\t15\tbar\tBüro\t0x00\r\n";

using ListViewTest = DesktopTest;

void ClickHeader(COrbelView& view, int column)
{
    QHeaderView* header = view.header();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, middle);
}

TEST_F(ListViewTest, ColumnsShowTheSettingsOfEachSensor)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("vier.ini", kFourSensors));
    COrbelView& view = View();
    QStringList titles;
    for (int column = 0; column < view.columnCount(); ++column)
        titles.append(view.headerItem()->text(column));
    EXPECT_EQ(titles, QStringList({"", "Adresse", "Port", "Sensor", "Einheit", "Intervall",
                                   "Beschreibung", "Status"}));
    for (int column = 1; column < 8; ++column)
    {
        const bool right = column == 2 || column == 3 || column == 5;
        EXPECT_EQ((view.topLevelItem(0)->textAlignment(column) & Qt::AlignRight) != 0, right)
            << column;
        EXPECT_EQ((view.headerItem()->textAlignment(column) & Qt::AlignRight) != 0, right)
            << column;
    }
    EXPECT_EQ(view.columnWidth(0), 20);
    QTreeWidgetItem* first = view.topLevelItem(0);
    EXPECT_EQ(first->text(1), "beta");
    EXPECT_EQ(first->text(2), "8080");
    EXPECT_EQ(first->text(4), "°C");
    EXPECT_EQ(first->text(5), "5 min");
    EXPECT_EQ(view.topLevelItem(3)->text(6), "Büro");
    // Enabled and disabled rows look different; equal states look alike.
    const auto image = [&](int row)
    { return view.topLevelItem(row)->icon(0).pixmap(16, 16).toImage(); };
    EXPECT_NE(image(0), image(1));
    EXPECT_EQ(image(0), image(2));
    Select({0});
    frame.OnCommand(ID_ENABLE_DISABLE);
    EXPECT_EQ(image(0), image(1));
}

TEST_F(ListViewTest, SortingFollowsTheColumnRulesAndTheDocumentKeepsTheOrder)
{
    CMainFrame& frame = NewFrame();
    const QString path = WriteConfig("vier.ini", kFourSensors);
    frame.OpenDocumentFile(path);
    COrbelView& view = View();
    COrbelDoc& doc = frame.GetDocument();

    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"80", "81", "443", "8080"}));
    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"8080", "443", "81", "80"}));
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"beta", "delta", "gamma", "Alpha"}));
    EXPECT_FALSE(doc.IsModified());

    // A changed row makes the next click ascending again.
    Select({3});
    frame.OnCommand(ID_ENABLE_DISABLE);
    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"80", "81", "443", "8080"}));

    // Letter case does not count for the address; the description sorts Z to A first.
    ClickHeader(view, 1);
    EXPECT_EQ(Column(1), QStringList({"Alpha", "beta", "delta", "gamma"}));
    ClickHeader(view, 6);
    EXPECT_EQ(Column(6), QStringList({"zuletzt", "mitte", "Büro", "Anfang"}));
    ClickHeader(view, 6);
    EXPECT_EQ(Column(6), QStringList({"Anfang", "Büro", "mitte", "zuletzt"}));
    ClickHeader(view, 5);
    EXPECT_EQ(Column(5), QStringList({"1 min", "5 min", "15 min", "60 min"}));

    // The sort survives Save: the file lists the sensors as shown.
    doc.SetModifiedFlag();
    ASSERT_TRUE(frame.OnFileSave());
    EXPECT_EQ(ReadConfig(path), "ZELD1\r\n"
                                "Alpha\t80\t1\t1\t%\tzuletzt\t0x00\r\n"
                                "beta\t8080\t2\t5\t°C\tmitte\t0x00\r\n"
                                "delta\t443\t3\t15\tbar\tBüro\t0x00\r\n"
                                "gamma\t81\t0\t60\tkWh\tAnfang\t0x00\r\n");
}

TEST_F(ListViewTest, TheFirstRowFitsTheColumnsOnceTheCommandIsDone)
{
    CMainFrame& frame = NewFrame();
    COrbelView& view = View();
    const int emptyWidth = view.columnWidth(1);
    QGuiApplication::clipboard()->setText(QStringLiteral(
        "ZELD1\r\nein-sehr-langer-geraetename.beispiel.local\t80\t0\t1\t\t\t0x00\r\n"));
    frame.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(view.columnWidth(1), emptyWidth);
    QCoreApplication::processEvents();
    const int fitted = view.columnWidth(1);
    EXPECT_GT(fitted, view.fontMetrics().horizontalAdvance(
                          QStringLiteral("ein-sehr-langer-geraetename.beispiel.local")));

    // Later rows leave the widths alone until F5.
    QGuiApplication::clipboard()->setText(
        QStringLiteral("ZELD1\r\nein-noch-viel-viel-laengerer-geraetename.beispiel."
                       "local\t80\t0\t1\t\t\t0x00\r\n"));
    frame.OnCommand(ID_EDIT_PASTE);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.columnWidth(1), fitted);
    frame.OnCommand(ID_FIT_COLUMNS);
    EXPECT_GT(view.columnWidth(1), fitted);
    EXPECT_EQ(view.columnWidth(0), 20);
}

TEST_F(ListViewTest, NewSensorProposesTheFirstAddressAndCancelRemovesIt)
{
    CMainFrame& frame = NewFrame();
    COrbelDoc& doc = frame.GetDocument();
    {
        CModalWatcher watcher;
        QString address;
        QString interval;
        watcher.Then(
            [&](QWidget* dialog)
            {
                address = dialog->findChild<QLineEdit*>("address")->text();
                interval = dialog->findChild<QLineEdit*>("interval")->text();
                dialog->findChild<QLineEdit*>("address")->setText("geraet-1");
                ButtonOf(dialog, "OK")->click();
            });
        frame.OnCommand(ID_NEW_SENSOR);
        EXPECT_EQ(address, "127.0.0.1");
        EXPECT_EQ(interval, "1");
    }
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"geraet-1"}));
    EXPECT_EQ(Column(1), QStringList({"geraet-1"}));
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    Select({0});
    {
        CModalWatcher watcher;
        QString address;
        watcher.Then(
            [&](QWidget* dialog)
            {
                address = dialog->findChild<QLineEdit*>("address")->text();
                ButtonOf(dialog, "Abbrechen")->click();
            });
        frame.OnCommand(ID_NEW_SENSOR);
        EXPECT_EQ(address, "geraet-1");
    }
    EXPECT_EQ(View().topLevelItemCount(), 1);
    EXPECT_EQ(doc.m_sensors.size(), 1u);
    EXPECT_EQ(View().m_nSelected, 0);
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(ListViewTest, PropertiesEditSeveralSensorsAtOnce)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("zwei.ini", "ZELD1\r\n"
                                                   "Geraet1\t80\t0\t5\t°C\tKeller\t0x00\r\n"
                                                   "andere\t80\t7\t5\t°C\tDach\t0x00\r\n"
                                                   "geraet1\t80\t1\t5\t°C\tkeller\t0x01\r\n"));
    Select({0, 2});
    CModalWatcher watcher;
    QStringList shown;
    watcher.Then(
        [&](QWidget* dialog)
        {
            for (const char* name : {"address", "interval", "description", "unit"})
                shown.append(dialog->findChild<QLineEdit*>(name)->text());
            auto* number = dialog->findChild<QComboBox*>("sensorNo");
            shown.append(number->currentText());
            number->setEditText("3");
            dialog->findChild<QLineEdit*>("interval")->setText("0");
            ButtonOf(dialog, "OK")->click();
        });
    QTest::keyClick(&View(), Qt::Key_Return);
    EXPECT_EQ(shown, QStringList({"Geraet1", "5", "Keller", "°C", "~"}));
    EXPECT_EQ(Column(1), QStringList({"Geraet1", "andere", "Geraet1"}));
    EXPECT_EQ(Column(3), QStringList({"3", "7", "3"}));
    EXPECT_EQ(Column(5), QStringList({"1 min", "5 min", "1 min"}));
    EXPECT_EQ(Column(6), QStringList({"Keller", "Dach", "Keller"}));
    EXPECT_TRUE(frame.GetDocument().IsModified());
    // The disabled one stays disabled.
    EXPECT_TRUE(frame.GetDocument().m_sensors.back()->m_bDisabled);
}

TEST_F(ListViewTest, EnableDisableMakesAMixedSelectionUniform)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("vier.ini", kFourSensors));
    COrbelDoc& doc = frame.GetDocument();
    const auto disabled = [&]
    {
        std::vector<bool> states;
        for (const auto& record : doc.m_sensors)
            states.push_back(record->m_bDisabled);
        return states;
    };
    Select({0, 1});
    frame.OnCommand(ID_ENABLE_DISABLE);
    EXPECT_EQ(disabled(), std::vector<bool>({true, true, false, false}));
    frame.OnCommand(ID_ENABLE_DISABLE);
    EXPECT_EQ(disabled(), std::vector<bool>({false, false, false, false}));
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(ListViewTest, TheBrowserGetsTheDevicesAddress)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("vier.ini", kFourSensors));
    CUrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "Open");
    Select({0});
    frame.OnCommand(ID_OPEN_IN_BROWSER);
    Select({1});
    frame.OnCommand(ID_OPEN_IN_BROWSER);
    // Only with exactly one row.
    Select({0, 1});
    frame.OnCommand(ID_OPEN_IN_BROWSER);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(recorder.m_urls, QList<QUrl>({QUrl("http://beta:8080"), QUrl("http://Alpha")}));
}

TEST_F(ListViewTest, ContextMenusDependOnTheSelectionAndOpenAtTheCentreByKey)
{
    CMainFrame& frame = NewFrame();
    frame.resize(600, 400);
    frame.move(0, 0);
    frame.OpenDocumentFile(WriteConfig("vier.ini", kFourSensors));
    COrbelView& view = View();
    QStringList items;
    QString defaultItem;
    QPoint shownAt;
    QString name;
    const auto open = [&](QContextMenuEvent::Reason reason, QPoint at)
    {
        items.clear();
        QTimer::singleShot(
            20,
            [&]
            {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                ASSERT_NE(menu, nullptr);
                name = menu->objectName();
                for (QAction* action : menu->actions())
                    items.append(action->isSeparator()
                                     ? QStringLiteral("-")
                                     : action->text() + (action->isEnabled() ? "" : " (grau)"));
                defaultItem = menu->defaultAction() ? menu->defaultAction()->text() : QString();
                shownAt = menu->pos();
                menu->close();
            });
        QContextMenuEvent event(reason, view.viewport()->mapFromGlobal(at), at);
        QApplication::sendEvent(view.viewport(), &event);
    };

    Select({2});
    view.setCurrentItem(view.topLevelItem(2), 0, QItemSelectionModel::NoUpdate);
    open(QContextMenuEvent::Mouse, view.viewport()->mapToGlobal(QPoint(30, 30)));
    EXPECT_EQ(name, "Device");
    EXPECT_EQ(items, QStringList({"Datenreihe e&xportieren...", "&Zusammenfassung exportieren...",
                                  "V&erlauf anzeigen", "-", "Per B&rowser verbinden", "-",
                                  "&Löschen", "Akti&vieren/deaktivieren", "E&igenschaften"}));
    EXPECT_EQ(defaultItem, "E&igenschaften");
    EXPECT_EQ(shownAt, view.viewport()->mapToGlobal(QPoint(30, 30)));

    // By keyboard: the middle of the focused row.
    open(QContextMenuEvent::Keyboard, QPoint(-1, -1));
    const QRect row = view.visualItemRect(view.topLevelItem(2));
    EXPECT_EQ(shownAt, view.viewport()->mapToGlobal(
                           QPoint(row.left() + row.width() / 2, row.top() + row.height() / 2)));

    // Without a selection nor a focused row: the other menu, at the list's middle.
    view.clearSelection();
    view.setCurrentItem(nullptr);
    open(QContextMenuEvent::Keyboard, QPoint(-1, -1));
    EXPECT_EQ(name, "Default");
    EXPECT_EQ(items, QStringList({"Alles &markieren", "-", "&Neuer Sensor", "Netz&werk durchsuchen",
                                  "Löschen &rückgängig (grau)"}));
    const QRect list = view.viewport()->rect();
    EXPECT_EQ(shownAt, view.viewport()->mapToGlobal(QPoint(list.width() / 2, list.height() / 2)));
}

TEST_F(ListViewTest, DataSourceBoxListsTheDefinedNamesAtTheFirstUpdate)
{
    SharedOdbcEnv().AddSqliteDataSource("Zeta Lager", m_files / "zeta.db");
    SharedOdbcEnv().AddSqliteDataSource("alpha Büro", m_files / "alpha.db", true);
    const QString longest = QStringLiteral("Lager Nord Sensordatenbank 2024");
    SharedOdbcEnv().AddSqliteDataSource(longest.toStdString(), m_files / "nord.db");
    CSettings().SetDataSource(QStringLiteral("Noch nicht angelegt"));
    CMainFrame& frame = NewFrame();
    QComboBox* combo = frame.m_wndDataSourceCombo;
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names.append(combo->itemText(i));
    EXPECT_GE(names.indexOf("Zeta Lager"), 0);
    EXPECT_LT(names.indexOf("alpha Büro"), names.indexOf("Zeta Lager"));
    EXPECT_EQ(combo->currentText(), "Noch nicht angelegt");
    EXPECT_EQ(View().m_db.m_strDataSource, "Noch nicht angelegt");
    // The open list shows whole names, however narrow the box.
    EXPECT_EQ(combo->width(), 150);
    combo->showPopup();
    QCoreApplication::processEvents();
    const QRect name =
        combo->view()->visualRect(combo->model()->index(combo->findText(longest), 0));
    EXPECT_GE(combo->view()->viewport()->width(),
              name.left() + combo->view()->fontMetrics().horizontalAdvance(longest));
    combo->hidePopup();

    // Only the first update fills the list.
    SharedOdbcEnv().AddSqliteDataSource("Später", m_files / "spaeter.db");
    frame.OnFileNew();
    EXPECT_EQ(combo->count(), names.size());

    // Unlocked, a typed name is what the settings keep.
    frame.OnCommand(ID_LOCK_SELECTION);
    combo->setEditText(QStringLiteral("Zeta Lager"));
    frame.OnCommand(ID_LOGIN_REQUIRED);
    EXPECT_TRUE(frame.close());
    const CSettings settings;
    EXPECT_EQ(settings.DataSource(), "Zeta Lager");
    EXPECT_FALSE(settings.QuickConnect());
}

} // namespace

#include "ListViewTest.moc"
