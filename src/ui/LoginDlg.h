#pragma once

#include <QDialog>

class QLineEdit;

// Asks for user name and password before a connect. The caller's values are
// shown and only replaced when the dialog ends with OK.
class CLoginDlg : public QDialog
{
public:
    CLoginDlg(const QString& userName, const QString& password, QWidget* parent = nullptr);

    const QString& UserName() const { return m_strUserName; }
    const QString& Password() const { return m_strPassword; }

    void accept() override;

private:
    QString m_strUserName;
    QString m_strPassword;
    QLineEdit* m_pUserName;
    QLineEdit* m_pPassword;
};
