#include "ui/DialogDbUserInterface.h"

#include "ui/DataSourceDlg.h"
#include "ui/DriverSettingsDlg.h"
#include "ui/LoginDlg.h"
#include "ui/OdbcErrorDlg.h"
#include "sensors/TextEncoding.h"
#include "ui/WrappedMessageBox.h"

#include <QMessageBox>

namespace
{

QString FromBytes(const std::string& text)
{
    return QString::fromStdString(DecodeLegacyText(text));
}

} // namespace

bool CDialogDbUserInterface::ReportOdbcError(const std::string& diagnostics)
{
    COdbcErrorDlg dialog(FromBytes(diagnostics), m_pParent);
    return dialog.exec() == QDialog::Rejected;
}

bool CDialogDbUserInterface::AskLogin(std::string& userName, std::string& password)
{
    CLoginDlg dialog(FromBytes(userName), FromBytes(password), m_pParent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    userName = dialog.UserName().toStdString();
    password = dialog.Password().toStdString();
    return true;
}

void CDialogDbUserInterface::ShowMessage(const std::string& text)
{
    WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok, FromBytes(text), m_pParent);
}

void CDialogDbUserInterface::ChooseDriver(const std::vector<std::string>& drivers,
                                          std::string& driver, bool& system)
{
    CDataSourceDlg dialog(drivers, driver, m_pParent);
    dialog.exec();
    driver = dialog.Driver();
    system = dialog.IsSystem();
}

bool CDialogDbUserInterface::EditDriverSettings(
    const std::string& driver, std::string& name,
    std::vector<std::pair<std::string, std::string>>& attributes)
{
    CDriverSettingsDlg dialog(driver, name, attributes, m_pParent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    name = dialog.Name();
    attributes = dialog.Attributes();
    return true;
}
