#include "ui/CommandTable.h"
#include "desktop/DesktopTestSupport.h"
#include "sensors/OrbelDoc.h"

#include <QClipboard>

namespace
{

using ClipboardUndoTest = DesktopTest;

TEST_F(ClipboardUndoTest, CopiedRowsPasteIntoAnotherConfigurationInDisplayOrder)
{
    CMainFrame& source = NewFrame();
    source.OpenDocumentFile(WriteConfig("quelle.ini", kThreeSensors));
    Select({2, 0});
    source.OnCommand(ID_EDIT_COPY);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied, "ZELD1\r\n"
                      "10.0.0.5\t80\t0\t15\t°C\tLager Süd\t0x00\r\n"
                      "alpha.local\t81\t1\t60\tkWh\tZähler\t0x00\r\n");
    EXPECT_FALSE(source.GetDocument().IsModified());

    CMainFrame& target = NewFrame();
    target.OpenDocumentFile(WriteConfig("ziel.ini", "ZELD1\r\nvorhanden\t80\t0\t1\t\t\t0x00\r\n"));
    EXPECT_TRUE(Act(ID_EDIT_PASTE)->isEnabled());
    target.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(Column(1), QStringList({"vorhanden", "10.0.0.5", "alpha.local"}));
    // The pasted rows, and only they, end up selected.
    EXPECT_EQ(View().m_nSelected, 2);
    EXPECT_FALSE(View().topLevelItem(0)->isSelected());
    EXPECT_TRUE(target.GetDocument().IsModified());
    // Pasting again adds duplicates.
    target.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(View().topLevelItemCount(), 5);
    ASSERT_TRUE(target.OnFileSave());
    EXPECT_EQ(ReadConfig(QString::fromStdString((m_files / "ziel.ini").string())),
              "ZELD1\r\nvorhanden\t80\t0\t1\t\t\t0x00\r\n" + copied.mid(7).toStdString() +
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

TEST_F(ClipboardUndoTest, DeletionsComeBackBatchByBatchAndCutsDoNot)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors));
    COrbelDoc& doc = frame.GetDocument();

    // The row that takes the deleted row's place is selected, the new last
    // one after the last, so that repeated Entf goes on downwards.
    const QString path = QString::fromStdString((m_files / "drei.ini").string());
    const std::pair<int, std::string> deletions[] = {
        {0, "Geraet-B"}, {1, "alpha.local"}, {2, "Geraet-B"}};
    View().setFocus();
    for (const auto& [row, next] : deletions)
    {
        View().setCurrentItem(View().topLevelItem(row));
        Key(Qt::Key_Delete);
        EXPECT_EQ(View().m_nSelected, 1) << row;
        EXPECT_EQ(SelectedAddress(), next) << row;
        EXPECT_TRUE(View().currentItem() && View().currentItem()->isSelected()) << row;
        doc.SetModifiedFlag(false);
        frame.OnFileNew();
        frame.OpenDocumentFile(path);
    }
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    Select({1});
    frame.OnCommand(ID_EDIT_CLEAR);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Geraet-B"}));

    frame.OnCommand(ID_EDIT_UNDO);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"Geraet-B", "alpha.local"}));
    EXPECT_EQ(View().m_nSelected, 1);
    EXPECT_TRUE(View().topLevelItem(1)->isSelected());
    frame.OnCommand(ID_EDIT_UNDO);
    EXPECT_EQ(DocumentAddresses(),
              std::vector<std::string>({"Geraet-B", "alpha.local", "10.0.0.5"}));
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());

    // A cut is gone for good; undo brings back the last deletion before it.
    Select({0});
    frame.OnCommand(ID_EDIT_CLEAR);
    Select({0, 1});
    frame.OnCommand(ID_EDIT_CUT);
    EXPECT_EQ(View().topLevelItemCount(), 0);
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
    frame.OpenDocumentFile(QString::fromStdString((m_files / "drei.ini").string()));
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());
    EXPECT_EQ(View().topLevelItemCount(), 3);
}

} // namespace
