#pragma once

#include "db/SensorDatabase.h"
#include "recording/Recorder.h"
#include "ui/CommandTable.h"
#include "ui/DialogDbUserInterface.h"
#include "ui/SensorSelection.h"
#include "ui/ViewRecording.h"

#include <QPointer>
#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <vector>

class CHistoryWnd;
class CMainFrame;
class COrbelDoc;
class CSensor;
class QComboBox;

// The list of sensors: one row per record of the document, with an icon, the
// six settings and a Status column. It carries out the commands that act on
// the rows and owns the database access of the desktop program.
class COrbelView : public QTreeWidget, public ISensorSelection
{
public:
    COrbelView(CMainFrame* frame, COrbelDoc& document);
    ~COrbelView() override;

    COrbelDoc& GetDocument() { return m_document; }

    // After every New and Open: one row per record, in document order.
    void OnInitialUpdate();

    // mode 0: appended only; 1: selected; 2: selected, focused and scrolled
    // into view. -1 for a null record.
    int AddRow(CSensor* record, int mode);
    void RefreshRow(int row) override;
    std::vector<std::pair<int, CSensor*>> SelectedRows() const override;
    CSensor* SensorAt(int row) const;
    void DeselectAll();
    void RefreshStatusColumn();
    void ClearStatusColumn();
    // A text of the string table, its "%d" replaced by argument, in the
    // status bar's message pane, drawn at once.
    void SetStatusText(int stringId, int argument = 0);

    // False for a command the view does not carry out.
    bool OnCommand(int id);
    bool OnUpdateCommand(int id, CCmdUI& state) const;

    // Rows went into the reading table: the chart windows read the new ones.
    void OnRowsStored();

    void LoadSettings();
    void SaveSettings();
    void ReadDataSourceName();
    void FillDataSourceList();
    // Opens the data source of the box for recording, offering to set it up
    // when it does not exist.
    bool OpenDatabaseOrSetUp();

    // Sort keys: column + 1, negative for the inverse order.
    static int CompareRows(const CSensor& a, const CSensor& b, int sortKey);
    // What the browser is given for a sensor: the address alone on port 80.
    static QString BrowserAddress(const CSensor& sensor);

    bool m_bFirstUpdate = true;
    bool m_bMinimized = false;
    int m_nColumns = 0;
    int m_nSortColumn = -1;
    bool m_bSortDescending = false;
    int m_nSelected = 0;
    CDialogDbUserInterface m_dbUserInterface;
    CSensorDatabase m_db;
    // Recording runs in the view's window: its rows show the channels' states.
    CViewRecording m_recordingView{*this};
    CRecorder m_recorder;
    bool m_bLockSelection = true;
    // Where the network scan looks: the broadcast address in network byte
    // order (255.255.255.255 reads the same either way), the port on which
    // devices hear it, and the port they are asked on. Tests put loopback
    // values here.
    std::uint32_t m_nScanBroadcast = 0xFFFFFFFF;
    std::uint16_t m_nScanDiscoveryPort = 8512;
    std::uint16_t m_nScanQueryPort = 80;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void OnColumnClick(int column);
    void OnFitColumns();
    void OnEnableDisable();
    void OnSelectAll();
    void OnOpenInBrowser();
    void OnLockSelection();
    void OnProperties();
    void OnNewSensor();
    void OnEditCopy();
    void OnEditCut();
    void OnEditPaste();
    void OnEditClear();
    void OnEditUndo();
    void OnExportSeries();
    void OnExportSummary();
    void OnShowHistory();
    void OnImportSensors();
    void OnDatabaseStatistics();
    void OnStartStop();
    void OnScanNetwork();
    void RemoveSelectedRows(bool keep);
    // A data source set up just now, perhaps under another name, is the one
    // the box shows and the settings keep, so that the next start finds it.
    void OnDataSourceSetUp();
    QComboBox* DataSourceCombo() const;

    CMainFrame* m_pFrame; // not owned
    // The open chart windows; each goes with its window.
    std::vector<QPointer<CHistoryWnd>> m_historyWindows;
    COrbelDoc& m_document;
};
