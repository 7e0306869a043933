#pragma once

#include "db/DataSource.h"

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;
class QPlainTextEdit;

// Asks for what a driver's own setup dialog would ask for, for drivers that
// bring none: one field per keyword the driver is known to need, or free
// keyword=value lines for any other driver. The name may be changed here.
class CDriverSettingsDlg : public QDialog
{
public:
    CDriverSettingsDlg(const std::string& driver, const std::string& name,
                       const DataSourceAttributes& attributes, QWidget* parent = nullptr);

    // Valid after OK.
    const std::string& Name() const { return m_strName; }
    const DataSourceAttributes& Attributes() const { return m_attributes; }

    void accept() override;

private:
    void OnBrowse();
    void Refuse(const QString& message);

    std::string m_strName;
    DataSourceAttributes m_attributes;
    std::vector<std::string> m_keywords;
    QLineEdit* m_pName;
    std::vector<QLineEdit*> m_fields;   // one per keyword
    QPlainTextEdit* m_pLines = nullptr; // for a driver of unknown keywords
};
