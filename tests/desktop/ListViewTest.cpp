#include "desktop/DesktopTestSupport.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHeaderView>
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
                                 "Delta\t443\t3\t15\tbar\tBüro\t0x00\r\n";

using ListViewTest = DesktopTest;

void ClickHeader(COrbelView& view, int column)
{
    QHeaderView* header = view.header();
    const QPoint middle(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, middle);
}

TEST_F(ListViewTest, ColumnsShowEachSensorItsStateAndTheBrowserItsAddress)
{
    CMainFrame& frame = OpenFrame(kFourSensors);
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
    // Enabled and disabled rows look different; equal states look alike.
    const auto image = [&](int row)
    { return view.topLevelItem(row)->icon(0).pixmap(16, 16).toImage(); };
    EXPECT_NE(image(0), image(1));
    EXPECT_EQ(image(0), image(2));
    // The topmost row of a mixed selection decides for all of it.
    view.setFocus();
    Select({0, 1});
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(frame.GetDocument().m_sensors.front()->m_bDisabled);
    EXPECT_TRUE(image(0) == image(1) && image(0) != image(2));
    frame.OnCommand(ID_ENABLE_DISABLE);
    EXPECT_TRUE(image(0) == image(2) && image(1) == image(2));
    EXPECT_TRUE(frame.GetDocument().IsModified());

    // The browser gets the device's address, only with exactly one row.
    CUrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "Open");
    for (const auto& rows : {std::initializer_list<int>{0}, {1}, {0, 1}})
    {
        Select(rows);
        frame.OnCommand(ID_OPEN_IN_BROWSER);
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_EQ(recorder.m_urls, QList<QUrl>({QUrl("http://beta:8080"), QUrl("http://Alpha")}));
}

TEST_F(ListViewTest, SortingFollowsTheColumnRulesAndTheDocumentKeepsTheOrder)
{
    CMainFrame& frame = OpenFrame(kFourSensors);
    COrbelView& view = View();
    COrbelDoc& doc = frame.GetDocument();

    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"80", "81", "443", "8080"}));
    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"8080", "443", "81", "80"}));
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"beta", "Delta", "gamma", "Alpha"}));
    EXPECT_FALSE(doc.IsModified());

    // A changed row makes the next click ascending again, where it would
    // otherwise turn the order.
    ClickHeader(view, 2);
    Select({0});
    frame.OnCommand(ID_ENABLE_DISABLE);
    ClickHeader(view, 2);
    EXPECT_EQ(Column(2), QStringList({"80", "81", "443", "8080"}));

    // Letter case does not count for the address; the description sorts Z to A first.
    ClickHeader(view, 1);
    EXPECT_EQ(Column(1), QStringList({"Alpha", "beta", "Delta", "gamma"}));
    ClickHeader(view, 6);
    EXPECT_EQ(Column(6), QStringList({"zuletzt", "mitte", "Büro", "Anfang"}));
    ClickHeader(view, 6);
    EXPECT_EQ(Column(6), QStringList({"Anfang", "Büro", "mitte", "zuletzt"}));
    ClickHeader(view, 5);
    EXPECT_EQ(Column(5), QStringList({"1 min", "5 min", "15 min", "60 min"}));

    // The sort survives Save: the file lists the sensors as shown.
    doc.SetModifiedFlag();
    ASSERT_TRUE(frame.OnFileSave());
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Alpha", "beta", "Delta", "gamma"}));
    EXPECT_EQ(ReadConfig(FilePath("drei.ini")), doc.Serialize());
}

TEST_F(ListViewTest, TheFirstRowFitsTheColumnsOnceTheCommandIsDone)
{
    CMainFrame& frame = NewFrame();
    COrbelView& view = View();
    const int emptyWidth = view.columnWidth(1);
    const auto paste = [&](const QString& address)
    {
        QGuiApplication::clipboard()->setText("ZELD1\r\n" + address + "\t80\t0\t1\t\t\t0x00\r\n");
        frame.OnCommand(ID_EDIT_PASTE);
    };
    const QString address = QStringLiteral("ein-sehr-langer-geraetename.beispiel.local");
    paste(address);
    EXPECT_EQ(view.columnWidth(1), emptyWidth);
    QCoreApplication::processEvents();
    const int fitted = view.columnWidth(1);
    EXPECT_GT(fitted, view.fontMetrics().horizontalAdvance(address));

    // Later rows leave the widths alone until F5.
    paste("noch-viel-viel-laenger-als-" + address);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.columnWidth(1), fitted);
    frame.OnCommand(ID_FIT_COLUMNS);
    EXPECT_GT(view.columnWidth(1), fitted);
}

TEST_F(ListViewTest, NewSensorProposesTheFirstAddressAndPropertiesEditTheSelectedRows)
{
    CMainFrame& frame = NewFrame();
    COrbelDoc& doc = frame.GetDocument();
    QStringList proposed;
    CModalWatcher watcher(
        [&](QWidget* dialog)
        {
            auto* address = dialog->findChild<QLineEdit*>("address");
            proposed << address->text() << dialog->findChild<QLineEdit*>("interval")->text();
            address->setText("geraet-1");
            ButtonOf(dialog, "OK")->click();
        });
    frame.OnCommand(ID_NEW_SENSOR);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"geraet-1"}));
    EXPECT_EQ(Column(1), QStringList({"geraet-1"}));
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    Select({0});
    watcher.Then(
        [&](QWidget* dialog)
        {
            proposed << dialog->findChild<QLineEdit*>("address")->text();
            ButtonOf(dialog, "Abbrechen")->click();
        });
    frame.OnCommand(ID_NEW_SENSOR);
    EXPECT_EQ(proposed, QStringList({"127.0.0.1", "1", "geraet-1"}));
    EXPECT_EQ(View().topLevelItemCount(), 1);
    EXPECT_EQ(doc.m_sensors.size(), 1u);
    EXPECT_EQ(View().m_nSelected, 0);
    EXPECT_FALSE(doc.IsModified());

    ASSERT_TRUE(frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors)));
    // The properties edit the selected rows; the disabled one stays disabled.
    Select({1, 2});
    watcher.Then(
        [&](QWidget* dialog)
        {
            dialog->findChild<QComboBox*>("sensorNo")->setEditText("4");
            ButtonOf(dialog, "OK")->click();
        });
    Key(Qt::Key_Return);
    EXPECT_EQ(Column(3), QStringList({"0", "4", "4"}));
    EXPECT_TRUE(frame.GetDocument().IsModified());
    EXPECT_TRUE(View().SensorAt(1)->m_bDisabled);
}

TEST_F(ListViewTest, ContextMenusDependOnTheSelectionAndOpenAtTheCentreByKey)
{
    CMainFrame& frame = OpenFrame(kFourSensors);
    frame.resize(600, 400);
    frame.move(0, 0);
    COrbelView& view = View();
    QStringList items;
    QString defaultItem;
    QPoint shownAt;
    QString name;
    const auto open = [&](const std::function<void()>& trigger)
    {
        items.clear();
        name.clear();
        shownAt = {};
        // Polled: a slow run shows the menu later than any fixed delay.
        QTimer poll;
        QObject::connect(
            &poll, &QTimer::timeout,
            [&]
            {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (!menu)
                    return;
                poll.stop();
                name = menu->objectName();
                for (QAction* action : menu->actions())
                    items.append(action->isSeparator()
                                     ? QStringLiteral("-")
                                     : action->text() + (action->isEnabled() ? "" : " (grau)"));
                defaultItem = menu->defaultAction() ? menu->defaultAction()->text() : QString();
                shownAt = menu->pos();
                menu->close();
            });
        poll.start(10);
        trigger();
    };
    const auto middle = [&](const QRect& rect)
    {
        return view.viewport()->mapToGlobal(
            QPoint(rect.left() + rect.width() / 2, rect.top() + rect.height() / 2));
    };

    Select({2});
    view.setCurrentItem(view.topLevelItem(2), 0, QItemSelectionModel::NoUpdate);
    const QPoint click = view.viewport()->mapToGlobal(QPoint(30, 30));
    open(
        [&]
        {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(30, 30), click);
            QApplication::sendEvent(view.viewport(), &event);
        });
    EXPECT_EQ(name, "Device");
    EXPECT_EQ(items, QStringList({"Datenreihe e&xportieren...", "&Zusammenfassung exportieren...",
                                  "V&erlauf anzeigen", "-", "Per B&rowser verbinden", "-",
                                  "&Löschen", "Akti&vieren/deaktivieren", "E&igenschaften"}));
    EXPECT_EQ(defaultItem, "E&igenschaften");
    EXPECT_EQ(shownAt, click);

    // By keyboard: the middle of the focused row. The window system turns
    // the Menu key into the event; Shift+F10 is the program's own.
    view.setFocus();
    open([&] { Key(Qt::Key_F10, Qt::ShiftModifier); });
    EXPECT_EQ(name, "Device");
    EXPECT_EQ(shownAt, middle(view.visualItemRect(view.topLevelItem(2))));

    // Without a selection nor a focused row: the other menu, at the list's middle.
    view.clearSelection();
    view.setCurrentItem(nullptr);
    open([&] { Key(Qt::Key_F10, Qt::ShiftModifier); });
    EXPECT_EQ(name, "Default");
    EXPECT_EQ(items, QStringList({"Alles &markieren", "-", "&Neuer Sensor", "Netz&werk durchsuchen",
                                  "Löschen &rückgängig (grau)"}));
    EXPECT_EQ(shownAt, middle(view.viewport()->rect()));
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
    const QStringList names = ItemsOf(combo);
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
}

TEST_F(ListViewTest, CopiedRowsPasteIntoAnotherConfigurationInDisplayOrder)
{
    CMainFrame& source = OpenFrame(kThreeSensors, "quelle.ini");
    View().setFocus();
    Select({2, 0});
    Key(Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied, "ZELD1\r\n"
                      "10.0.0.5\t80\t0\t15\t°C\tLager Süd\t0x00\r\n"
                      "alpha.local\t81\t1\t60\tkWh\tZähler\t0x00\r\n");
    EXPECT_FALSE(source.GetDocument().IsModified());

    CMainFrame& target = OpenFrame("ZELD1\r\nvorhanden\t80\t0\t1\t\t\t0x00\r\n", "ziel.ini");
    View().setFocus();
    Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Column(1), QStringList({"vorhanden", "10.0.0.5", "alpha.local"}));
    // The pasted rows, and only they, end up selected.
    EXPECT_EQ(View().m_nSelected, 2);
    EXPECT_FALSE(View().topLevelItem(0)->isSelected());
    EXPECT_TRUE(target.GetDocument().IsModified());
    // Pasting again adds duplicates; all of them copy as shown.
    target.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(View().topLevelItemCount(), 5);
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().count("\r\n"), 6);
    ASSERT_TRUE(target.OnFileSave());
    EXPECT_EQ(ReadConfig(FilePath("ziel.ini")), "ZELD1\r\nvorhanden\t80\t0\t1\t\t\t0x00\r\n" +
                                                    copied.mid(7).toStdString() +
                                                    copied.mid(7).toStdString());

    // Later lines lose their leading blanks; a magic line ended by LF alone is no paste.
    QGuiApplication::clipboard()->setText(
        QStringLiteral("ZELD1\r\n\r\n  \tnach-blanks\t80\t4\t1\t\t\t0x00\r\nkurz\t80\t1\r\n"));
    target.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(Column(1).last(), "nach-blanks");
    EXPECT_EQ(View().topLevelItemCount(), 6);
    QGuiApplication::clipboard()->setText(QStringLiteral("ZELD1\nlf-only\t80\t4\t1\t\t\t0x00\r\n"));
    target.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(View().topLevelItemCount(), 6);
}

TEST_F(ListViewTest, DeletionsComeBackBatchByBatchAndCutsDoNot)
{
    CMainFrame& frame = OpenFrame();
    COrbelDoc& doc = frame.GetDocument();

    // The row that takes the deleted row's place is selected, the new last
    // one after the last, so that repeated Entf goes on downwards.
    const std::pair<int, std::string> deletions[] = {
        {0, "Geraet-B"}, {1, "alpha.local"}, {2, "Geraet-B"}};
    View().setFocus();
    for (const auto& [row, next] : deletions)
    {
        View().setCurrentItem(View().topLevelItem(row));
        Key(Qt::Key_Delete);
        EXPECT_EQ(View().m_nSelected, 1) << row;
        EXPECT_EQ(View().SelectedRows().at(0).second->m_strAddress, next) << row;
        EXPECT_TRUE(View().currentItem() && View().currentItem()->isSelected()) << row;
        doc.SetModifiedFlag(false);
        frame.OnFileNew();
        frame.OpenDocumentFile(FilePath("drei.ini"));
    }
    Select({0});
    Key(Qt::Key_Delete);
    Select({1});
    Key(Qt::Key_Delete);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Geraet-B"}));

    Key(Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Geraet-B", "alpha.local"}));
    EXPECT_EQ(View().m_nSelected, 1);
    EXPECT_TRUE(View().topLevelItem(1)->isSelected());
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DocumentAddresses(),
              std::vector<std::string>({"Geraet-B", "alpha.local", "10.0.0.5"}));
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());

    // A cut is gone for good, into the clipboard; undo brings back the last
    // deletion before it.
    Select({0});
    Key(Qt::Key_Delete);
    Select({0, 1});
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(View().topLevelItemCount(), 0);
    EXPECT_EQ(QGuiApplication::clipboard()->text().count("\r\n"), 3);
    frame.OnCommand(ID_EDIT_UNDO);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Geraet-B"}));
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());

    // New and Open forget what could be undone.
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    EXPECT_TRUE(Act(ID_EDIT_UNDO)->isEnabled());
    doc.SetModifiedFlag(false);
    frame.OnCommand(ID_FILE_NEW);
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());
    frame.OpenDocumentFile(WriteConfig("andere.ini", kThreeSensors));
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    doc.SetModifiedFlag(false);
    frame.OpenDocumentFile(FilePath("drei.ini"));
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());
    EXPECT_EQ(View().topLevelItemCount(), 3);
}

} // namespace

#include "ListViewTest.moc"
