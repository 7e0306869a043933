#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QRadioButton;

// "Datenquelle anlegen": which driver a new data source gets and for whom.
// The driver starts with the caller's preset, which no entry shows; OK with
// no entry chosen keeps it, Cancel empties it.
class CDataSourceDlg : public QDialog
{
public:
    CDataSourceDlg(const std::vector<std::string>& drivers, const std::string& driver,
                   QWidget* parent = nullptr);

    const std::string& Driver() const { return m_strDriver; }
    bool IsSystem() const { return m_bSystem; }

    void accept() override;
    void reject() override;

private:
    std::string m_strDriver;
    bool m_bSystem = false;
    QComboBox* m_pDrivers;
    QRadioButton* m_pEveryone;
};
