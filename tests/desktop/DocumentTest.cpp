#include "common/Process.h"
#include "desktop/DesktopTestSupport.h"

#include <QHeaderView>
#include <QTreeView>

namespace
{

using DocumentTest = DesktopTest;

// Types a name into the file dialog and confirms it.
std::function<void(QWidget*)> ChooseFile(const QString& path)
{
    return [path](QWidget* dialog)
    {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->nameFilters(), QStringList({"Konfigurationsdateien (*.ini)"}));
        auto* list = files->findChild<QTreeView*>("treeView");
        ASSERT_NE(list, nullptr);
        // Once the folder is read, every column but the names fits its texts.
        const auto whole = [list]
        {
            if (list->model()->rowCount(list->rootIndex()) < 2)
                return false;
            for (int column = 1; column < list->header()->count(); ++column)
                if (list->columnWidth(column) <
                    static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column))
                    return false;
            return true;
        };
        if (!QTest::qWaitFor(whole))
        {
            ADD_FAILURE() << "the file dialog cuts a column";
            return files->reject();
        }
        files->selectFile(path);
        QMetaObject::invokeMethod(files, "accept");
    };
}

TEST_F(DocumentTest, OpenEditSaveAndReopenKeepTheContent)
{
    CMainFrame& frame = NewFrame();
    EXPECT_EQ(frame.windowTitle(), "Unbenannt - Tessaro");
    const QString path = WriteConfig("lager.ini", kThreeSensors);
    WriteConfig("groesser.ini", std::string(408, 'x'));
    CModalWatcher watcher(ChooseFile(path));
    frame.OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(frame.windowTitle(), "lager.ini - Tessaro");
    ASSERT_EQ(View().topLevelItemCount(), 3);

    Select({1});
    frame.OnCommand(ID_ENABLE_DISABLE);
    frame.OnCommand(ID_FILE_SAVE);
    EXPECT_FALSE(frame.GetDocument().IsModified());
    const std::string saved = ReadConfig(path);
    EXPECT_NE(saved.find("Geraet-B\t8080\t2\t5\t%\tBüro\t0x00\r\n"), std::string::npos);
    // The command-line front end reads what the desktop wrote.
    const ProcessResult listed = RunProcess({TESSARO_CLI, "list", path.toStdString()});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Geraet-B"), std::string::npos);

    // Save As writes the same bytes under the new name, which the title shows.
    const QString copy = FilePath("kopie");
    watcher.Then(ChooseFile(copy));
    frame.OnCommand(ID_FILE_SAVE_AS);
    EXPECT_EQ(frame.windowTitle(), "kopie.ini - Tessaro");
    EXPECT_EQ(ReadConfig(copy + ".ini"), saved);

    frame.OnCommand(ID_FILE_NEW);
    ASSERT_TRUE(frame.OpenDocumentFile(path));
    EXPECT_EQ(frame.GetDocument().Serialize(), saved);
}

TEST_F(DocumentTest, ChangesAreOfferedForSavingKeptWhenAnOpenFailsAndSavedOnlyWhereAllowed)
{
    CMainFrame& frame = OpenFrame(kThreeSensors, "lager.ini");
    const QString path = FilePath("lager.ini");
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    const std::string changed = frame.GetDocument().Serialize();
    CModalWatcher watcher([](QWidget* box) { Answer(box, QMessageBox::Cancel); });
    frame.OnCommand(ID_FILE_NEW);
    EXPECT_EQ(watcher.Texts(), QStringList({"Änderungen in lager.ini speichern?"}));

    // A file of the wrong format, or one that is not there, after "Nein":
    // its message once, and the configuration on show stays.
    for (const QString& bad :
         {WriteConfig("falsch.ini", "zeld1\r\nx\t80\t0\t1\t\t\t0x00\r\n"), FilePath("fehlt.ini")})
    {
        watcher.Then([](QWidget* box) { Answer(box, QMessageBox::No); });
        EXPECT_FALSE(frame.OpenDocumentFile(bad));
        EXPECT_EQ(frame.GetDocument().Serialize(), changed);
        EXPECT_EQ(View().topLevelItemCount(), 2);
        EXPECT_EQ(View().SensorAt(0), frame.GetDocument().m_sensors.front().get());
        EXPECT_EQ(frame.windowTitle(), "lager.ini - Tessaro");
        EXPECT_TRUE(frame.GetDocument().IsModified());
    }
    ASSERT_EQ(watcher.Count(), 5);
    EXPECT_EQ(watcher.Texts().mid(1, 3),
              QStringList({"Änderungen in lager.ini speichern?",
                           "Die ausgewählte Datei entspricht nicht dem erwarteten Format.",
                           "Änderungen in lager.ini speichern?"}));
    EXPECT_TRUE(watcher.Texts().last().contains("fehlt.ini"));

    // "Nein" lets the changes go, "Ja" saves them.
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::No); });
    frame.OnCommand(ID_FILE_NEW);
    EXPECT_EQ(View().topLevelItemCount(), 0);
    EXPECT_EQ(ReadConfig(path), kThreeSensors);
    frame.OpenDocumentFile(path);
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::Yes); });
    frame.OnCommand(ID_FILE_NEW);
    EXPECT_EQ(View().topLevelItemCount(), 0);
    EXPECT_EQ(ReadConfig(path), changed);

    // Closing asks too; cancelling keeps the window open.
    frame.GetDocument().SetModifiedFlag();
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::Cancel); });
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(watcher.Texts().last(), "Änderungen in Unbenannt speichern?");

    // Saving asks before it replaces a file changed since, and refuses a
    // read-only one.
    frame.GetDocument().SetModifiedFlag(false);
    ASSERT_TRUE(frame.OpenDocumentFile(WriteConfig("lager.ini", kThreeSensors)));
    Select({1});
    frame.OnCommand(ID_ENABLE_DISABLE);
    const std::string mine = frame.GetDocument().Serialize();
    // A second window saves the file meanwhile.
    const std::string theirs = kThreeSensors + "10.0.0.9\t80\t3\t1\tV\tNeu\t0x00\r\n";
    WriteConfig("lager.ini", theirs);

    const int asked = watcher.Count();
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::No); });
    ASSERT_FALSE(frame.OnFileSave());
    EXPECT_EQ(watcher.Texts().mid(asked),
              QStringList({path + " wurde seit dem Öffnen geändert.\nTrotzdem speichern?"}));
    EXPECT_EQ(ReadConfig(path), theirs);
    EXPECT_TRUE(frame.GetDocument().IsModified());
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::Yes); });
    EXPECT_TRUE(frame.OnFileSave());
    EXPECT_EQ(ReadConfig(path), mine);
    // What was saved here is no change of someone else's.
    EXPECT_TRUE(frame.OnFileSave());
    EXPECT_EQ(watcher.Count(), asked + 2);

    std::filesystem::permissions(path.toStdString(), std::filesystem::perms(0444));
    EXPECT_FALSE(frame.OnFileSave());
    EXPECT_EQ(watcher.Count(), asked + 3);
    EXPECT_TRUE(watcher.Texts().last().startsWith(path + " kann nicht gespeichert werden."));
    EXPECT_EQ(ReadConfig(path), mine);
}

TEST_F(DocumentTest, RecentFilesKeepTheLastFourAndReopen)
{
    CMainFrame& frame = NewFrame();
    QStringList paths;
    for (const char* name : {"a.ini", "b.ini", "c.ini", "d.ini", "e.ini"})
    {
        paths.prepend(WriteConfig(name, kThreeSensors));
        ASSERT_TRUE(frame.OpenDocumentFile(paths.front()));
    }
    EXPECT_EQ(frame.RecentFiles(), paths.mid(0, 4));
    QMenu* file = frame.menuBar()->actions()[0]->menu();
    emit file->aboutToShow();
    EXPECT_EQ(Act(ID_FILE_MRU_FILE1 + 1)->text(), "&2 " + paths[1]);
    EXPECT_TRUE(Act(ID_FILE_MRU_FILE1 + 3)->isEnabled());

    // Reopening moves a file to the top; a file that is gone leaves the list.
    frame.OnCommand(ID_FILE_MRU_FILE1 + 2);
    EXPECT_EQ(frame.windowTitle(), "c.ini - Tessaro");
    EXPECT_EQ(frame.RecentFiles().first(), paths[2]);
    std::filesystem::remove(paths[1].toStdString());
    CModalWatcher watcher;
    frame.OnCommand(ID_FILE_MRU_FILE1 + 2);
    EXPECT_EQ(watcher.Count(), 1);
    EXPECT_EQ(frame.RecentFiles(), QStringList({paths[2], paths[0], paths[3]}));
    EXPECT_FALSE(Act(ID_FILE_MRU_FILE1 + 3)->isVisible());

    EXPECT_TRUE(frame.close());
    EXPECT_EQ(CSettings().RecentFiles(), QStringList({paths[2], paths[0], paths[3]}));
}

} // namespace
