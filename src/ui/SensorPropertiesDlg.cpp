#include "ui/SensorPropertiesDlg.h"

#include "net/DeviceQuery.h"
#include "sensors/Sensor.h"
#include "ui/DialogButtons.h"
#include "ui/SensorSelection.h"
#include "ui/WaitCursor.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

const QString kDiffers = QStringLiteral("~");

QString Text(const std::string& field)
{
    return QString::fromStdString(field);
}

// Numbers are shown as unsigned 32-bit decimals, as they are read back.
QString Number(int value)
{
    return QString::number(static_cast<std::uint32_t>(value));
}

bool SameText(const std::string& a, const std::string& b)
{
    return Text(a).compare(Text(b), Qt::CaseInsensitive) == 0;
}

// The sizes of the Sensors table's columns Host, Unit and Location: a longer
// text could not be registered.
constexpr int kHostLength = 64;
constexpr int kUnitLength = 32;
constexpr int kDescriptionLength = 80;

// A control character, which pasted text can bring into a line edit, would
// break the record's line in the configuration file, or make the file one
// that is refused; each becomes a blank.
std::string FieldText(const QLineEdit* edit)
{
    QString text = edit->text();
    for (QChar& c : text)
        if (c.unicode() < 0x20)
            c = u' ';
    return text.toStdString();
}

QLabel* Label(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QComboBox* EditableCombo(const QString& name, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    // The list offers choices; typing never adds to it.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QLineEdit* Edit(const QString& name, QWidget* parent, int maxLength = 32767)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    return edit;
}

} // namespace

CSensorPropertiesDlg::CSensorPropertiesDlg(ISensorSelection* view, QWidget* parent)
    : QDialog(parent), m_pView(view), m_comboSensorNo(EditableCombo("sensorNo", this)),
      m_pQueryButton(new QPushButton(QStringLiteral("installierte Sensoren er&mitteln"), this)),
      m_pAddress(Edit("address", this, kHostLength)), m_pPort(EditableCombo("port", this)),
      m_pUnit(Edit("unit", this, kUnitLength)), m_pInterval(Edit("interval", this)),
      m_pDescription(Edit("description", this, kDescriptionLength))
{
    setWindowTitle(QStringLiteral("Sensor-Eigenschaften"));
    m_pQueryButton->setObjectName(QStringLiteral("queryInstalledSensors"));
    m_pQueryButton->setAutoDefault(false);
    // Styles that size a button tight to its text make this long one touch its border.
    m_pQueryButton->setMinimumWidth(m_pQueryButton->sizeHint().width() +
                                    2 * m_pQueryButton->fontMetrics().averageCharWidth());
    connect(m_pQueryButton, &QPushButton::clicked, this,
            &CSensorPropertiesDlg::OnQueryInstalledSensors);
    m_pPort->addItem(QStringLiteral("80"));
    connect(m_comboSensorNo, &QComboBox::activated, this,
            &CSensorPropertiesDlg::OnSelchangeSensorNo);
    m_comboSensorNo->installEventFilter(this);

    const CDialogButtons buttons(this, Qt::Vertical, [this] { OnOK(); });
    buttons.m_pCancel->setAutoDefault(false);

    auto* interval = new QHBoxLayout;
    interval->addWidget(m_pInterval, 1);
    interval->addWidget(new QLabel(QStringLiteral("Minuten"), this));
    auto* fields = new QGridLayout;
    fields->addWidget(Label(QStringLiteral("Hostname oder IP-Ad&resse:"), m_pAddress, this), 0, 0);
    fields->addWidget(m_pAddress, 0, 1, 1, 2);
    fields->addWidget(Label(QStringLiteral("HTTP-&Port:"), m_pPort, this), 1, 0);
    fields->addWidget(m_pPort, 1, 1);
    fields->addWidget(m_pQueryButton, 1, 2, 2, 1);
    fields->addWidget(Label(QStringLiteral("Sensor&nummer:"), m_comboSensorNo, this), 2, 0);
    fields->addWidget(m_comboSensorNo, 2, 1);
    fields->addWidget(Label(QStringLiteral("Mess&größe:"), m_pUnit, this), 3, 0);
    fields->addWidget(m_pUnit, 3, 1, 1, 2);
    fields->addWidget(Label(QStringLiteral("&Speicherintervall:"), m_pInterval, this), 4, 0);
    fields->addLayout(interval, 4, 1);
    fields->addWidget(Label(QStringLiteral("Sensor-&Beschreibung:"), m_pDescription, this), 5, 0);
    fields->addWidget(m_pDescription, 5, 1, 1, 2);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields, 1);
    layout->addLayout(buttons.m_pLayout);
    // Top to bottom, as the fields are laid out, not as they were created.
    QWidget* const order[] = {m_pAddress,      m_pPort,       m_pQueryButton,
                              m_comboSensorNo, m_pUnit,       m_pInterval,
                              m_pDescription,  buttons.m_pOk, buttons.m_pCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    OnInitDialog();
}

unsigned CSensorPropertiesDlg::ReadUnsigned(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return 0;
    std::uint64_t value = 0;
    for (const QChar c : digits)
    {
        if (c < u'0' || c > u'9')
            return 0;
        value = value * 10 + (c.unicode() - u'0');
        if (value > UINT32_MAX)
            return 0;
    }
    return static_cast<unsigned>(value);
}

bool CSensorPropertiesDlg::eventFilter(QObject* watched, QEvent* event)
{
    // Opening the box's own list takes the focus only for a moment.
    if (watched == m_comboSensorNo && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
        OnKillfocusSensorNo();
    return QDialog::eventFilter(watched, event);
}

void CSensorPropertiesDlg::OnInitDialog()
{
    if (!m_pView)
        return;
    const CSensor* first = nullptr;
    for (const auto& [row, record] : m_pView->SelectedRows())
    {
        if (!record)
            continue;
        if (!first)
        {
            first = record;
            m_pAddress->setText(Text(first->m_strAddress));
            m_pPort->setEditText(QString::number(first->m_nPort));
            m_comboSensorNo->setEditText(Number(first->m_nSensorNo));
            m_pUnit->setText(Text(first->m_strUnit));
            m_pInterval->setText(Number(first->m_nInterval));
            m_pDescription->setText(Text(first->m_strDescription));
            continue;
        }
        if (!SameText(record->m_strAddress, first->m_strAddress))
            m_pAddress->setText(kDiffers);
        if (record->m_nPort != first->m_nPort)
            m_pPort->setEditText(kDiffers);
        if (record->m_nSensorNo != first->m_nSensorNo)
            m_comboSensorNo->setEditText(kDiffers);
        if (!SameText(record->m_strUnit, first->m_strUnit))
            m_pUnit->setText(kDiffers);
        if (record->m_nInterval != first->m_nInterval)
            m_pInterval->setText(kDiffers);
        if (!SameText(record->m_strDescription, first->m_strDescription))
            m_pDescription->setText(kDiffers);
    }
}

void CSensorPropertiesDlg::OnOK()
{
    const bool keepAddress = m_pAddress->text() == kDiffers;
    const bool keepPort = m_pPort->currentText() == kDiffers;
    const bool keepSensorNo = m_comboSensorNo->currentText() == kDiffers;
    const bool keepUnit = m_pUnit->text() == kDiffers;
    const bool keepInterval = m_pInterval->text() == kDiffers;
    const bool keepDescription = m_pDescription->text() == kDiffers;

    const std::string address = FieldText(m_pAddress);
    const auto port = static_cast<std::uint16_t>(ReadUnsigned(m_pPort->currentText()));
    const auto sensorNo = static_cast<int>(ReadUnsigned(m_comboSensorNo->currentText()));
    const std::string unit = FieldText(m_pUnit);
    // The scheduler divides by the interval.
    const int interval = std::max(static_cast<int>(ReadUnsigned(m_pInterval->text())), 1);
    const std::string description = FieldText(m_pDescription);

    if (m_pView)
        for (const auto& [row, record] : m_pView->SelectedRows())
        {
            if (!record)
                continue;
            if (!keepAddress)
                record->m_strAddress = address;
            if (!keepPort)
                record->m_nPort = port;
            if (!keepSensorNo)
                record->m_nSensorNo = sensorNo;
            if (!keepUnit)
                record->m_strUnit = unit;
            if (!keepInterval)
                record->m_nInterval = interval;
            if (!keepDescription)
                record->m_strDescription = description;
            m_pView->RefreshRow(row);
        }
    QDialog::accept();
}

void CSensorPropertiesDlg::OnSelchangeSensorNo(int index)
{
    if (index < 0)
        return;
    const QString item = m_comboSensorNo->itemText(index);
    // The leading number as a 32-bit long reads it, shown unsigned.
    const long number = std::clamp(std::strtol(item.toUtf8().constData(), nullptr, 10),
                                   long{INT_MIN}, long{INT_MAX});
    m_comboSensorNo->setEditText(Number(static_cast<int>(number)));

    QString unit = item;
    while (!unit.isEmpty() && QStringView(u"] ").contains(unit.back()))
        unit.chop(1);
    qsizetype start = 0;
    while (start < unit.size() && QStringView(u"0123456789 [").contains(unit[start]))
        ++start;
    m_pUnit->setText(unit.mid(start));
}

void CSensorPropertiesDlg::OnKillfocusSensorNo()
{
    const QString text = m_comboSensorNo->currentText();
    if (text != kDiffers)
        m_comboSensorNo->setEditText(QString::number(ReadUnsigned(text)));
}

void CSensorPropertiesDlg::OnQueryInstalledSensors()
{
    const CWaitCursor wait;
    const std::optional<std::string> reply =
        QueryDeviceReply(m_pAddress->text().toStdString(),
                         static_cast<std::uint16_t>(ReadUnsigned(m_pPort->currentText())));
    if (!reply)
        return;
    const unsigned current = ReadUnsigned(m_comboSensorNo->currentText());
    QString number;
    QString unit;
    m_comboSensorNo->clear();
    for (const CInstalledSensor& sensor : ReadInstalledSensors(*reply))
    {
        const QString sensorUnit = QString::fromStdString(sensor.m_strUnit);
        m_comboSensorNo->addItem(QStringLiteral("%1 [%2]").arg(sensor.m_nSensorNo).arg(sensorUnit));
        if (static_cast<unsigned>(sensor.m_nSensorNo) == current)
        {
            number = QString::number(sensor.m_nSensorNo);
            unit = sensorUnit;
        }
    }
    // The list offers the slots; none of them is chosen by the query itself.
    m_comboSensorNo->setCurrentIndex(-1);
    m_comboSensorNo->setEditText(number);
    m_pUnit->setText(unit);
}
