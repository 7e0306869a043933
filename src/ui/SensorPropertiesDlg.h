#pragma once

#include <QDialog>
#include <QString>

class ISensorSelection;
class QComboBox;
class QLineEdit;
class QPushButton;

// "Sensor-Eigenschaften": edits the configured fields of every selected row
// at once. A field in which the records differ shows "~", and a field that
// still shows exactly "~" at OK is left as it is in each record. The dialog
// holds no copy of the records: it reads them when it is built and writes
// them back on OK; Abbrechen changes nothing.
class CSensorPropertiesDlg : public QDialog
{
public:
    explicit CSensorPropertiesDlg(ISensorSelection* view, QWidget* parent = nullptr);

    // A number field read the way the dialog reads it: the text without
    // surrounding blanks must be a decimal number that fits 32 bits
    // unsigned; anything else, "~" included, reads as 0.
    static unsigned ReadUnsigned(const QString& text);

    ISensorSelection* const m_pView; // not owned
    // The sensor-number box. The query of installed sensors fills its list
    // with items "%d [%s]" (number and unit); choosing one sets both fields.
    QComboBox* const m_comboSensorNo;
    // "installierte Sensoren ermitteln": runs OnQueryInstalledSensors.
    QPushButton* const m_pQueryButton;

    // Asks the device at the dialog's host and port which slots carry a
    // value and offers them in the sensor-number box. Blocks under the wait
    // cursor; a device that cannot be read changes nothing and is not
    // reported.
    void OnQueryInstalledSensors();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void OnOK();
    void OnSelchangeSensorNo(int index);
    void OnKillfocusSensorNo();

    QLineEdit* const m_pAddress;
    QComboBox* const m_pPort;
    QLineEdit* const m_pUnit;
    QLineEdit* const m_pInterval;
    QLineEdit* const m_pDescription;
};
