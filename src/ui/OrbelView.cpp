#include "ui/OrbelView.h"

#include "sensors/ClipboardText.h"
#include "ui/CommandTable.h"
#include "db/DataSource.h"
#include "ui/HistoryWnd.h"
#include "ui/IconPainter.h"
#include "ui/MainFrame.h"
#include "net/NetworkScan.h"
#include "sensors/OrbelDoc.h"
#include "net/SensorChannel.h"
#include "ui/SensorPropertiesDlg.h"
#include "settings/Settings.h"
#include "ui/StringTable.h"
#include "sensors/TextEncoding.h"
#include "ui/ViewDatabaseCommands.h"
#include "ui/WaitCursor.h"
#include "ui/WrappedMessageBox.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <span>
#include <unordered_map>

namespace
{

constexpr int kIconColumn = 0;
constexpr int kStatusColumn = 7;
constexpr int kIconColumnWidth = 20;
constexpr int kMaxColumns = 9;
// "Nach Sensorgeräten suchen..."
constexpr int kStrScanning = 328;

bool IsRightAligned(int column)
{
    return column == 2 || column == 3 || column == 5;
}

int CompareAsciiNoCase(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
    {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        const int d =
            lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
        if (d != 0)
            return d;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int CompareTextNoCase(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
}

int CompareNumbers(long long a, long long b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

// A row: its record is the item data; the rows own nothing.
class CSensorItem : public QTreeWidgetItem
{
public:
    explicit CSensorItem(CSensor* record) : m_pRecord(record) {}

    CSensor* Record() const { return m_pRecord; }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return COrbelView::CompareRows(
                   *m_pRecord, *static_cast<const CSensorItem&>(other).m_pRecord, column + 1) < 0;
    }

private:
    CSensor* m_pRecord;
};

CSensor* RecordOf(const QTreeWidgetItem* item)
{
    return item ? static_cast<const CSensorItem*>(item)->Record() : nullptr;
}

struct PopupItem
{
    int id; // 0: separator
    const char* text;
};

// Menu 174, for a selection of rows.
const PopupItem kDeviceMenu[] = {
    {ID_EXPORT_SERIES, "Datenreihe e&xportieren..."},
    {ID_EXPORT_SUMMARY, "&Zusammenfassung exportieren..."},
    {ID_SHOW_HISTORY, "V&erlauf anzeigen"},
    {0, nullptr},
    {ID_OPEN_IN_BROWSER, "Per B&rowser verbinden"},
    {0, nullptr},
    {ID_EDIT_CLEAR, "&Löschen"},
    {ID_ENABLE_DISABLE, "Akti&vieren/deaktivieren"},
    {ID_PROPERTIES, "E&igenschaften"},
};

// Menu 175, for no selection.
const PopupItem kDefaultMenu[] = {
    {ID_EDIT_SELECT_ALL, "Alles &markieren"}, {0, nullptr},
    {ID_NEW_SENSOR, "&Neuer Sensor"},         {ID_SCAN_NETWORK, "Netz&werk durchsuchen"},
    {ID_EDIT_UNDO, "Löschen &rückgängig"},
};

} // namespace

COrbelView::COrbelView(CMainFrame* frame, COrbelDoc& document)
    : QTreeWidget(frame), m_dbUserInterface(frame), m_db(m_dbUserInterface),
      m_recorder(m_recordingView, m_db, frame->m_bRecording), m_pFrame(frame), m_document(document)
{
    setObjectName(QStringLiteral("sensorList"));
    setRootIsDecorated(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::white);
    setPalette(colours);

    // Column titles are cut from one string at "|"; the empty text before
    // the first one is the icon column's title.
    QStringList titles = LoadString(StringId::kColumnTitles).split(QLatin1Char('|'));
    if (titles.size() > kMaxColumns)
        titles.resize(kMaxColumns);
    m_nColumns = static_cast<int>(titles.size());
    titles[kIconColumn].clear();
    setColumnCount(m_nColumns);
    setHeaderLabels(titles);
    for (int column = 0; column < m_nColumns; ++column)
    {
        const Qt::Alignment alignment =
            (IsRightAligned(column) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        headerItem()->setTextAlignment(column, alignment);
    }
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setMinimumSectionSize(kIconColumnWidth);
    setColumnWidth(kIconColumn, kIconColumnWidth);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int column) { OnColumnClick(column); });
    connect(this, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_nSelected = static_cast<int>(selectedItems().size()); });

    LoadSettings();
}

COrbelView::~COrbelView()
{
    // The rows point into the document, which may go first.
    clear();
}

void COrbelView::OnInitialUpdate()
{
    clear();
    m_nSelected = 0;
    for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
        AddRow(record.get(), 0);
    if (topLevelItemCount() == 0)
        OnFitColumns();
    if (m_bFirstUpdate)
    {
        FillDataSourceList();
        m_bFirstUpdate = false;
    }
}

int COrbelView::AddRow(CSensor* record, int mode)
{
    if (!record)
        return -1;
    // The first row's texts are what the columns are fitted to; fitting
    // waits until the command that adds it is done.
    if (topLevelItemCount() == 0)
        QTimer::singleShot(0, this, [this] { OnCommand(ID_FIT_COLUMNS); });
    auto* item = new CSensorItem(record);
    for (int column = 0; column < m_nColumns; ++column)
        item->setTextAlignment(column, (IsRightAligned(column) ? Qt::AlignRight : Qt::AlignLeft) |
                                           Qt::AlignVCenter);
    addTopLevelItem(item);
    const int row = topLevelItemCount() - 1;
    RefreshRow(row);
    if (mode >= 1)
        item->setSelected(true);
    if (mode >= 2)
    {
        setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        scrollToItem(item);
    }
    return row;
}

void COrbelView::RefreshRow(int row)
{
    QTreeWidgetItem* item = topLevelItem(row);
    CSensor* record = RecordOf(item);
    if (!record)
        return;
    m_nSortColumn = -1;
    item->setText(1, QString::fromStdString(record->m_strAddress));
    item->setText(2, QString::number(record->m_nPort));
    item->setText(3, QString::number(record->m_nSensorNo));
    item->setText(4, QString::fromStdString(record->m_strUnit));
    item->setText(5, QStringLiteral("%1 min").arg(record->m_nInterval));
    item->setText(6, QString::fromStdString(record->m_strDescription));
    record->m_strStatus.clear();
    if (record->m_pChannel)
        record->m_strStatus = record->m_pChannel->GetStatusText();
    item->setText(kStatusColumn, QString::fromStdString(DecodeLegacyText(record->m_strStatus)));
    record->m_nImage = record->m_bDisabled ? 2 : 1;
    item->setIcon(kIconColumn, QIcon(CIconPainter::SensorImage(record->m_nImage)));
}

std::vector<std::pair<int, CSensor*>> COrbelView::SelectedRows() const
{
    std::vector<std::pair<int, CSensor*>> rows;
    for (int row = 0; row < topLevelItemCount(); ++row)
        if (QTreeWidgetItem* item = topLevelItem(row); item->isSelected())
            rows.emplace_back(row, RecordOf(item));
    return rows;
}

CSensor* COrbelView::SensorAt(int row) const
{
    return RecordOf(topLevelItem(row));
}

void COrbelView::DeselectAll()
{
    clearSelection();
}

void COrbelView::RefreshStatusColumn()
{
    for (int row = 0; row < topLevelItemCount(); ++row)
    {
        QTreeWidgetItem* item = topLevelItem(row);
        CSensor* record = RecordOf(item);
        record->m_strStatus.clear();
        if (record->m_pChannel)
            record->m_strStatus = record->m_pChannel->GetStatusText();
        item->setText(kStatusColumn, QString::fromStdString(DecodeLegacyText(record->m_strStatus)));
    }
}

void COrbelView::ClearStatusColumn()
{
    for (int row = 0; row < topLevelItemCount(); ++row)
    {
        QTreeWidgetItem* item = topLevelItem(row);
        RecordOf(item)->m_strStatus.clear();
        item->setText(kStatusColumn, QString());
    }
}

int COrbelView::CompareRows(const CSensor& a, const CSensor& b, int sortKey)
{
    int result = 0;
    switch (std::abs(sortKey))
    {
    case 1:
        result = CompareNumbers(a.m_nImage, b.m_nImage);
        break;
    case 2:
        result = CompareAsciiNoCase(a.m_strAddress, b.m_strAddress);
        break;
    case 3:
        result = CompareNumbers(a.m_nPort, b.m_nPort);
        break;
    case 4:
        result = CompareNumbers(a.m_nSensorNo, b.m_nSensorNo);
        break;
    case 5:
        result = CompareTextNoCase(a.m_strUnit, b.m_strUnit);
        break;
    case 6:
        result = CompareNumbers(a.m_nInterval, b.m_nInterval);
        break;
    // Texts a reader scans for the latest entries: the first click puts Z on top.
    case 7:
        result = CompareTextNoCase(b.m_strDescription, a.m_strDescription);
        break;
    case 8:
        result = CompareTextNoCase(b.m_strStatus, a.m_strStatus);
        break;
    default:
        break;
    }
    return sortKey < 0 ? -result : result;
}

void COrbelView::OnColumnClick(int column)
{
    if (column == m_nSortColumn)
        m_bSortDescending = !m_bSortDescending;
    else
    {
        m_nSortColumn = column;
        m_bSortDescending = false;
    }
    sortItems(column, m_bSortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
    const std::vector<std::pair<int, CSensor*>> selected = SelectedRows();
    if (!selected.empty())
        scrollToItem(topLevelItem(selected.front().first));

    // The document keeps the order shown, so that Save writes it; sorting is
    // no change of the configuration.
    std::unordered_map<const CSensor*, SensorList::iterator> positions;
    SensorList& sensors = m_document.m_sensors;
    for (auto it = sensors.begin(); it != sensors.end(); ++it)
        positions.emplace(it->get(), it);
    auto next = sensors.begin();
    for (int row = 0; row < topLevelItemCount() && next != sensors.end(); ++row)
    {
        const auto found = positions.find(SensorAt(row));
        if (found == positions.end())
            continue;
        if (found->second == next)
            ++next;
        else
            sensors.splice(next, sensors, found->second);
    }
}

bool COrbelView::OnCommand(int id)
{
    switch (id)
    {
    case ID_NEW_SENSOR:
        OnNewSensor();
        return true;
    case ID_PROPERTIES:
        OnProperties();
        return true;
    case ID_ENABLE_DISABLE:
        OnEnableDisable();
        return true;
    case ID_OPEN_IN_BROWSER:
        OnOpenInBrowser();
        return true;
    case ID_EDIT_SELECT_ALL:
        OnSelectAll();
        return true;
    case ID_FIT_COLUMNS:
        OnFitColumns();
        return true;
    case ID_LOCK_SELECTION:
        OnLockSelection();
        return true;
    case ID_LOGIN_REQUIRED:
        m_db.m_bQuickConnect = !m_db.m_bQuickConnect;
        return true;
    case ID_EDIT_DATA_SOURCE:
    case ID_OTHER_DRIVER:
        ReadDataSourceName();
        if (SetupDataSource(m_db.m_strDataSource, id == ID_OTHER_DRIVER, m_dbUserInterface))
            OnDataSourceSetUp();
        return true;
    case ID_EDIT_COPY:
        OnEditCopy();
        return true;
    case ID_EDIT_CUT:
        OnEditCut();
        return true;
    case ID_EDIT_PASTE:
        OnEditPaste();
        return true;
    case ID_EDIT_CLEAR:
        OnEditClear();
        return true;
    case ID_EDIT_UNDO:
        OnEditUndo();
        return true;
    case ID_EXPORT_SERIES:
        OnExportSeries();
        return true;
    case ID_EXPORT_SUMMARY:
        OnExportSummary();
        return true;
    case ID_SHOW_HISTORY:
        OnShowHistory();
        return true;
    case ID_IMPORT_SENSORS:
        OnImportSensors();
        return true;
    case ID_DATABASE_STATISTICS:
        OnDatabaseStatistics();
        return true;
    case ID_START_STOP:
        OnStartStop();
        return true;
    case ID_SCAN_NETWORK:
        OnScanNetwork();
        return true;
    default:
        return false;
    }
}

bool COrbelView::OnUpdateCommand(int id, CCmdUI& state) const
{
    switch (id)
    {
    case ID_PROPERTIES:
    case ID_ENABLE_DISABLE:
    case ID_EDIT_COPY:
    case ID_EDIT_CUT:
    case ID_EDIT_CLEAR:
        state.Enable(m_nSelected >= 1);
        return true;
    case ID_OPEN_IN_BROWSER:
    case ID_EXPORT_SERIES:
    case ID_EXPORT_SUMMARY:
        state.Enable(m_nSelected == 1);
        return true;
    case ID_SHOW_HISTORY:
        state.Enable(m_nSelected >= 1 && m_nSelected <= CHistoryWnd::kMaxSensors);
        return true;
    case ID_EDIT_PASTE:
    {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        state.Enable(data && data->hasText());
        return true;
    }
    case ID_EDIT_UNDO:
        state.Enable(m_document.CanUndoDelete());
        return true;
    case ID_LOCK_SELECTION:
        state.SetCheck(m_bLockSelection);
        return true;
    case ID_LOGIN_REQUIRED:
        state.SetCheck(!m_db.m_bQuickConnect);
        return true;
    case ID_NEW_SENSOR:
    case ID_EDIT_SELECT_ALL:
    case ID_FIT_COLUMNS:
    case ID_EDIT_DATA_SOURCE:
    case ID_OTHER_DRIVER:
    case ID_SCAN_NETWORK:
    case ID_DATABASE_STATISTICS:
    case ID_IMPORT_SENSORS:
        return true;
    default:
        return false;
    }
}

void COrbelView::OnFitColumns()
{
    setColumnWidth(kIconColumn, kIconColumnWidth);
    for (int column = 1; column < m_nColumns; ++column)
        resizeColumnToContents(column);
}

void COrbelView::OnEnableDisable()
{
    bool disable = false;
    bool first = true;
    for (const auto& [row, record] : SelectedRows())
    {
        // The topmost row decides, so a mixed selection becomes uniform.
        if (first)
        {
            disable = !record->m_bDisabled;
            m_document.SetModifiedFlag();
            first = false;
        }
        record->m_bDisabled = disable;
        RefreshRow(row);
    }
}

void COrbelView::OnSelectAll()
{
    selectAll();
}

QString COrbelView::BrowserAddress(const CSensor& sensor)
{
    const QString address = QString::fromStdString(sensor.m_strAddress);
    if (sensor.m_nPort == 80)
        return address;
    return QStringLiteral("http://%1:%2").arg(address).arg(sensor.m_nPort);
}

void COrbelView::OnOpenInBrowser()
{
    const std::vector<std::pair<int, CSensor*>> selected = SelectedRows();
    if (selected.empty())
        return;
    QString address = BrowserAddress(*selected.front().second);
    // The desktop hands a location to the browser only with its scheme.
    if (!address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        address.prepend(QLatin1String("http://"));
    // A browser that does not start is not reported.
    QDesktopServices::openUrl(QUrl(address));
}

void COrbelView::OnLockSelection()
{
    m_bLockSelection = !m_bLockSelection;
    if (QComboBox* combo = DataSourceCombo())
        combo->setEnabled(!m_bLockSelection);
}

void COrbelView::OnProperties()
{
    if (m_nSelected == 0)
        return;
    CSensorPropertiesDlg dialog(this, window());
    if (dialog.exec() == QDialog::Accepted)
        m_document.SetModifiedFlag();
}

void COrbelView::OnNewSensor()
{
    DeselectAll();
    auto record = std::make_unique<CSensor>();
    if (!m_document.m_sensors.empty())
        record->m_strAddress = m_document.m_sensors.front()->m_strAddress;
    const int row = AddRow(record.get(), 2);
    CSensorPropertiesDlg dialog(this, window());
    if (dialog.exec() == QDialog::Accepted)
    {
        m_document.AddSensor(record, true);
        m_document.SetModifiedFlag();
        return;
    }
    delete takeTopLevelItem(row);
}

void COrbelView::OnEditCopy()
{
    std::vector<CSensor*> records;
    for (const auto& [row, record] : SelectedRows())
        records.push_back(record);
    // The clipboard's text is the locale's; the records hold UTF-8 already.
    QGuiApplication::clipboard()->setText(QString::fromStdString(FormatClipboardText(records)));
}

void COrbelView::OnEditCut()
{
    OnEditCopy();
    RemoveSelectedRows(false);
}

void COrbelView::OnEditClear()
{
    RemoveSelectedRows(true);
}

void COrbelView::RemoveSelectedRows(bool keep)
{
    const std::vector<std::pair<int, CSensor*>> selected = SelectedRows();
    std::vector<CSensor*> records;
    for (const auto& [row, record] : selected)
        records.push_back(record);
    setUpdatesEnabled(false);
    // The rows go before their records, bottom up so that the indexes hold.
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        delete takeTopLevelItem(it->first);
    // The row that took the first deleted row's place gets the focus and the
    // selection, the new last row when the last went: repeated Entf goes on
    // downwards, as in other lists.
    if (m_document.RemoveSensors(records, keep) > 0 && topLevelItemCount() > 0)
    {
        QTreeWidgetItem* next =
            topLevelItem(std::min(selected.front().first, topLevelItemCount() - 1));
        setCurrentItem(next, 0, QItemSelectionModel::NoUpdate);
        next->setSelected(true);
    }
    setUpdatesEnabled(true);
}

void COrbelView::OnEditPaste()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return;
    const QByteArray text = data->text().toUtf8();
    auto records = ParseClipboardText(std::string_view(text.constData(), text.size()));
    if (!records)
        return;
    DeselectAll();
    for (std::unique_ptr<CSensor>& record : *records)
    {
        CSensor* added = record.get();
        m_document.AddSensor(record, true);
        m_document.SetModifiedFlag();
        AddRow(added, 2);
    }
}

void COrbelView::OnEditUndo()
{
    if (!m_document.CanUndoDelete())
        return;
    DeselectAll();
    for (CSensor* record : m_document.UndoDelete())
        AddRow(record, 2);
}

void COrbelView::OnStartStop()
{
    m_recorder.OnStartStop();
}

void COrbelView::SetStatusText(int stringId, int argument)
{
    QLabel* pane = m_pFrame && m_pFrame->m_wndStatusBar
                       ? m_pFrame->m_wndStatusBar->findChild<QLabel*>(QStringLiteral("messagePane"))
                       : nullptr;
    if (!pane)
        return;
    QString text = LoadString(static_cast<unsigned>(stringId));
    if (const qsizetype at = text.indexOf(QLatin1String("%d")); at >= 0)
        text.replace(at, 2, QString::number(argument));
    pane->setText(text);
    // Whoever sets it is about to block the event loop.
    pane->repaint();
}

void COrbelView::OnScanNetwork()
{
    CNetworkScan scan(m_nScanBroadcast, m_nScanDiscoveryPort, m_nScanQueryPort);
    {
        const CWaitCursor wait;
        SetStatusText(kStrScanning);
        scan.Run(
            [this](std::unique_ptr<CSensor> sensor)
            {
                CSensor* record = sensor.get();
                // A point the configuration holds already is dropped with its record.
                if (!m_document.AddSensor(sensor, false))
                    return;
                m_document.SetModifiedFlag();
                AddRow(record, 0);
                // The scan blocks the event loop; the new row is drawn now, so
                // that the list grows while the scan goes on.
                executeDelayedItemsLayout();
                viewport()->repaint();
            });
        SetStatusText(StringId::kReady);
    }
    // Finding nothing because nothing could be asked must not look like an
    // empty network.
    if (scan.DiscoveryError() != 0)
        WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok,
                          LoadString(StringId::kScanNotSent)
                              .arg(QString::fromStdString(scan.DiscoveryErrorText())),
                          window());
}

void COrbelView::OnExportSeries()
{
    CViewDatabaseCommands(*this).OnExportSeries();
}

void COrbelView::OnExportSummary()
{
    CViewDatabaseCommands(*this).OnExportSummary();
}

void COrbelView::OnShowHistory()
{
    if (CHistoryWnd* window = CHistoryWnd::Open(*this))
        m_historyWindows.emplace_back(window);
}

void COrbelView::OnRowsStored()
{
    std::erase_if(m_historyWindows, [](const QPointer<CHistoryWnd>& window) { return !window; });
    for (const QPointer<CHistoryWnd>& window : m_historyWindows)
        window->OnRowsStored();
}

void COrbelView::OnImportSensors()
{
    CViewDatabaseCommands(*this).OnImportSensors();
}

void COrbelView::OnDatabaseStatistics()
{
    CViewDatabaseCommands(*this).OnDatabaseStatistics();
}

void COrbelView::contextMenuEvent(QContextMenuEvent* event)
{
    QPoint position = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse)
    {
        // From the keyboard: the middle of the focused row, or of the list.
        const QRect bounds = currentItem() ? visualItemRect(currentItem()) : viewport()->rect();
        position = viewport()->mapToGlobal(
            QPoint(bounds.left() + bounds.width() / 2, bounds.top() + bounds.height() / 2));
    }
    const bool rows = m_nSelected > 0;
    QMenu menu(this);
    menu.setObjectName(rows ? QStringLiteral("Device") : QStringLiteral("Default"));
    m_pFrame->UpdateCommandUI();
    for (const PopupItem& item :
         rows ? std::span<const PopupItem>(kDeviceMenu) : std::span<const PopupItem>(kDefaultMenu))
    {
        if (item.id == 0)
        {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf8(item.text));
        action->setData(item.id);
        action->setEnabled(m_pFrame->Commands().Action(item.id)->isEnabled());
        action->setStatusTip(CommandPrompt(item.id));
        if (item.id == ID_PROPERTIES)
            menu.setDefaultAction(action);
    }
    event->accept();
    if (QAction* chosen = menu.exec(position))
        m_pFrame->OnCommand(CCommandTable::CommandOf(chosen));
}

void COrbelView::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 is the context menu's other key; the window system makes the
    // event only for the Menu key.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)
    {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos());
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void COrbelView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    m_pFrame->OnCommand(ID_PROPERTIES);
}

void COrbelView::LoadSettings()
{
    const CSettings settings;
    m_db.m_bQuickConnect = settings.QuickConnect();
    m_db.m_strDataSource = settings.DataSource().toStdString();
    m_db.m_strUserName = settings.UserName().toStdString();
    m_db.m_db.SetTimeout(settings.DbTimeout());
}

void COrbelView::SaveSettings()
{
    ReadDataSourceName();
    CSettings settings;
    settings.SetQuickConnect(m_db.m_bQuickConnect);
    settings.SetDataSource(QString::fromStdString(m_db.m_strDataSource));
    settings.SetUserName(QString::fromStdString(m_db.m_strUserName));
}

QComboBox* COrbelView::DataSourceCombo() const
{
    return m_pFrame->m_wndDataSourceCombo;
}

void COrbelView::ReadDataSourceName()
{
    // Before the first update the box is still empty; the name loaded stays.
    if (m_bFirstUpdate)
        return;
    if (QComboBox* combo = DataSourceCombo())
        m_db.m_strDataSource = combo->currentText().toStdString();
}

bool COrbelView::OpenDatabaseOrSetUp()
{
    ReadDataSourceName();
    const bool existed = FindDataSource(m_db.m_strDataSource).has_value();
    const bool opened = m_db.OpenDatabase(true);
    if (!existed && FindDataSource(m_db.m_strDataSource))
        OnDataSourceSetUp();
    return opened;
}

void COrbelView::OnDataSourceSetUp()
{
    FillDataSourceList();
    CSettings().SetDataSource(QString::fromStdString(m_db.m_strDataSource));
}

void COrbelView::FillDataSourceList()
{
    QComboBox* combo = DataSourceCombo();
    if (!combo)
        return;
    QStringList names;
    for (const std::string& name : ListDataSources())
        names.append(QString::fromStdString(DecodeLegacyText(name)));
    names.sort(Qt::CaseInsensitive);
    combo->clear();
    combo->addItems(names);
    // The open list shows whole names, however narrow the box.
    QAbstractItemView* list = combo->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                          list->verticalScrollBar()->sizeHint().width());
    // Also a name that is not defined (yet) is shown.
    combo->setEditText(QString::fromStdString(m_db.m_strDataSource));
    // A long name shows its beginning.
    combo->lineEdit()->setCursorPosition(0);
}
